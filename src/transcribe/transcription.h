#pragma once

#include <QString>
#include <QStringList>

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
    int connectTimeoutMs = kTranscriptionConnectTimeoutMs;
    int replyTimeoutMs = kTranscriptionReplyTimeoutMs;

    // server + "/audio/transcriptions"; the environment variable
    // MORVANE_OPENAI_URL, when set, replaces the whole address.
    QString url() const;
    bool isDefaultServer() const;
};

// Why the program will not send recordings to that server, or empty when it
// will: a server must be an https address, or a plain http one on this
// machine or the local network.
QString serverProblem(const QString &server);

struct TranscriptionReply
{
    bool ok = false;
    QString text;   // the transcript, when ok
    QString error;  // what the "ERROR" box shows, when not ok
};

// Sends the file to the service with the key ("Authorization: Bearer " + key
// exactly as given; no such header for an empty key) and reads the reply: a
// 200 with a JSON object whose "text" is a string gives that text; any other
// status gives its body as the error; a failed transfer its message. The
// file is read as it is sent. Throws AppError when the file cannot be opened.
TranscriptionReply requestTranscription(const TranscriptionService &service, const QString &key,
                                        const QString &path);
