#pragma once

#include "testserver.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <memory>
#include <vector>

// Recordings made for tests with the FFmpeg libraries, and a local stand-in
// of the transcription service that listens to what it is sent.
//
// A test recording is a row of "words": word i is a tone of its own pitch
// (kFirstPitchHz + i * kPitchStepHz) lasting kWordSeconds, then kGapSeconds of
// silence; so whoever hears a piece of it can tell where in the recording the
// piece starts.
namespace speech {

constexpr double kWordSeconds = 2.5;
constexpr double kGapSeconds = 0.5;
constexpr double kSlotSeconds = kWordSeconds + kGapSeconds;
constexpr double kFirstPitchHz = 220;
constexpr double kPitchStepHz = 40;

// Writes seconds of such speech to path, in the format its extension names:
// .mp3 (MP3 of bitRate, stereo, 44.1 kHz), .m4a (AAC), .opus (Ogg Opus),
// .ogg (Ogg Vorbis when the libraries have it, else Opus), .wav (16-bit PCM),
// .flac. Throws std::runtime_error.
void writeRecording(const QString &path, double seconds, int bitRate = 128000, int channels = 2);

// The audio of a file decoded, mixed down to mono and resampled to 16 kHz.
std::vector<float> decodeMono16k(const QString &path);
std::vector<float> decodeMono16k(const QByteArray &bytes);

// Where in the recording a piece decoded from it starts, from the pitch of
// its first word and where that word begins in the piece; negative when the
// piece holds no word.
double startOf(const std::vector<float> &piece);

// What the stand-in received in one request it answered.
struct HeardPiece
{
    QByteArray model;
    QByteArray language;
    QByteArray prompt;
    bool hadPrompt = false;
    QByteArray fileName;
    QByteArray file;      // the uploaded bytes
    qint64 bodyBytes = 0; // the whole request body
    double seconds = 0;   // the audio's length
    double start = -1;    // where it starts in the recording
    QByteArray text;      // the text it answered
};

// The transcription service on a local HTTPS server, at url(). It refuses a
// body over requestLimit with OpenAI's 413 and audio longer than
// secondsLimit with a 400, decodes each piece and answers with a text that
// names its start and its length: "Piece from 12.1 s for 27.4 s."
class SpeechStandIn
{
public:
    explicit SpeechStandIn(qint64 requestLimit = -1, double secondsLimit = 0);
    ~SpeechStandIn();

    // The address to give the program as its server.
    QString server() const;
    TestServer &http() { return m_server; }
    QList<HeardPiece> heard() const;
    int refused() const;
    // Refuses every request with this status and body instead (0: none).
    void failAfter(int answered, int status, const QByteArray &body);

private:
    Response answer(const RecordedRequest &request);

    TestServer m_server;
    qint64 m_requestLimit = -1;
    double m_secondsLimit = 0;
    mutable QMutex m_lock;
    QList<HeardPiece> m_heard;
    int m_refused = 0;
    int m_failAfter = -1;
    int m_failStatus = 0;
    QByteArray m_failBody;
};

} // namespace speech
