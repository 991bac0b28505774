#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <vector>

// Audio made ready for a speech service: whatever the FFmpeg libraries can
// read (MP3, AAC and M4A, the audio of MP4 and WebM, Ogg Vorbis and Opus,
// WAV, FLAC), mixed down to mono, resampled to 16 kHz and encoded as MP3 of
// 32 kbit/s. The work streams: memory stays flat whatever the recording's
// length. The MP3 frames are written without a bit reservoir, so that every
// frame stands alone and a run of frames cut anywhere is a playable file.

constexpr int kPreparedSampleRate = 16000;
constexpr int kPreparedBitRate = 32000;

// What the libraries make of a file: its length, or why they cannot read it.
struct AudioProbe
{
    bool ok = false;
    double seconds = -1;  // negative when the file does not say
    QString error;        // when not ok
};
AudioProbe probeAudio(const QString &path);

// One MP3 frame of prepared audio.
struct PreparedFrame
{
    qint64 offset = 0;   // in the prepared file
    qint32 bytes = 0;
    float loudness = 0;  // mean square of the samples it carries
};

struct PreparedAudio
{
    QString path;  // the frames, one after another, nothing else
    int frameSamples = 0;
    std::vector<PreparedFrame> frames;

    double frameSeconds() const { return double(frameSamples) / kPreparedSampleRate; }
    double seconds() const { return frameSeconds() * double(frames.size()); }
    qint64 bytes() const { return frames.empty() ? 0 : frames.back().offset + frames.back().bytes; }
};

// Prepares the recording at input into the file output. onProgress gets the
// share done, 0 to 100, each time it grows. Throws AppError with a message for
// the user when the file cannot be read as audio or the output cannot be
// written, and "Cancelled" within a fraction of a second of cancel becoming
// true.
PreparedAudio prepareAudio(const QString &input, const QString &output, const std::atomic<bool> *cancel = nullptr,
                           const std::function<void(int percent)> &onProgress = {});

// A run of prepared frames, [first, end).
struct AudioPiece
{
    int first = 0;
    int end = 0;
    qint64 offset = 0;
    qint64 bytes = 0;
    double startSeconds = 0;
    double seconds = 0;
};

// The piece that starts at frame `first`: the rest of the audio when it fits
// within maxBytes (negative: any size) and maxSeconds (zero or less: any
// length); otherwise a piece that ends inside the last stretch before the
// limit, at its quietest short window, so that no word is cut in two.
AudioPiece nextPiece(const PreparedAudio &audio, int first, qint64 maxBytes, double maxSeconds);
// The whole audio in such pieces, in order, without gap or overlap.
std::vector<AudioPiece> splitAudio(const PreparedAudio &audio, qint64 maxBytes, double maxSeconds);
// Writes the piece's frames to a file of its own. Throws AppError.
void writePiece(const PreparedAudio &audio, const AudioPiece &piece, const QString &path);
