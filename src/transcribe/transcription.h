#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

// The request to the transcription service: one audio or video file up, its
// text back.

// The service the program talks to unless the user names another: OpenAI's.
extern const char kDefaultTranscriptionServer[];
// The models offered; the first is the default.
extern const QStringList kTranscriptionModels;
constexpr int kTranscriptionConnectTimeoutMs = 10000;
// The reply comes only when the whole file has been transcribed.
constexpr int kTranscriptionReplyTimeoutMs = 600000;
// Files from this size on are larger than the service says it takes.
constexpr qint64 kLargeTranscriptionFileBytes = 26214400;
// OpenAI's service refuses a request body larger than this...
constexpr qint64 kDefaultServerRequestBytes = 26214400;
// ...and its gpt-4o models audio longer than this.
constexpr double kGpt4oPieceSeconds = 1400;
// An error reply is shown up to this many bytes.
constexpr qint64 kShownErrorBytes = 64 * 1024;

// The media type declared for a file by its extension (the part of the file
// name from its last dot, compared without case): .mp3 and .mpga audio/mpeg,
// .mp4 video/mp4, .m4a audio/mp4, .mpeg video/mpeg, .wav audio/wav, .webm
// video/webm; empty for any other extension or none.
QString MimeTypeOf(const QString &path);
// The type the upload declares: MimeTypeOf(), else the system's type for the
// file name's extension, else "application/octet-stream".
QString uploadTypeOf(const QString &path);
// The file's size from its attributes; -1 when they cannot be read.
qint64 FileSizeOf(const QString &path);

// The transcript file of an audio file: beside it, named after it without its
// last extension, with ".txt".
QString transcriptPathOf(const QString &audioPath);
// A transcript as the program writes it: UTF-8 with a byte-order mark, its
// lines separated by CR LF.
QByteArray transcriptFileBytes(const QString &text);

struct TranscriptionService
{
    QString server = QString::fromLatin1(kDefaultTranscriptionServer);
    QString model = kTranscriptionModels.first();
    QString language;  // empty: not sent, the service finds it out
    int connectTimeoutMs = kTranscriptionConnectTimeoutMs;
    int replyTimeoutMs = kTranscriptionReplyTimeoutMs;

    // server + "/audio/transcriptions", or the server as it stands when its
    // path already ends in "/audio/transcriptions" or "/inference" (the
    // address of whisper.cpp's server).
    QString url() const;
    bool isDefaultServer() const;
};

// Why the program will not send recordings to that server, or empty when it
// will: a server must be an https address, or a plain http one on this
// machine or the local network.
QString serverProblem(const QString &server);

// Why the key cannot be sent, or empty when it can: a key with a control
// character inside it (a pasted line end) would break the request's head.
QString keyProblem(const QString &key);
// The key as it is sent: without the spaces and control characters at its
// ends.
QString keyToSend(const QString &key);

struct TranscriptionReply
{
    bool ok = false;
    int status = 0; // the reply's HTTP status; 0 when none came
    QString text;   // the transcript, when ok
    QString error;  // what the "ERROR" box shows, when not ok
};

// Sends the file to the service with the key ("Authorization: Bearer " +
// keyToSend(key); no such header for an empty key), the model, the language
// and the prompt (each only when not empty), and reads the reply: a 200 with a
// JSON object whose "text" is a string gives that text; any other status
// gives its body (its first 64 KiB), or its status line when the body is
// empty, as the error; a failed transfer its message. The file is read as it
// is sent; cancel ends the request within a fraction of a second. Throws
// AppError when the file cannot be opened.
TranscriptionReply requestTranscription(const TranscriptionService &service, const QString &key,
                                        const QString &path, const QString &prompt = QString(),
                                        const std::atomic<bool> *cancel = nullptr);
