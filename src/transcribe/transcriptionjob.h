#pragma once

#include "transcribe/transcription.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QThread;

// One whole transcription of a recording: sent as it is when it fits the
// service, otherwise prepared (mono 16 kHz MP3) and, when that still does not
// fit, sent in pieces cut in silences, each with the end of the text before it
// as its prompt. The texts are joined in order.

// What the service takes in one request.
struct TranscriptionLimits
{
    qint64 requestBytes = -1;  // the whole request body; negative: no limit known
    double pieceSeconds = 0;   // the audio of one request; zero: no limit
};
// OpenAI's service: 26,214,400 bytes a request, and 1,400 s a piece for the
// gpt-4o models. Any other server: no limit until it refuses a request (413).
TranscriptionLimits limitsOf(const TranscriptionService &service);

// Room in a request body for everything but the audio: the form's fields
// (the prompt included) and the part heads.
constexpr qint64 kFormAllowanceBytes = 16 * 1024;
// Pieces are not halved below this size.
constexpr qint64 kSmallestPieceBytes = 1024 * 1024;

// The prompt for the piece after this text: its last words (about 200).
QString promptAfter(const QString &text);

struct TranscriptionOutcome
{
    enum class End { Done, Failed, Cancelled };
    End end = End::Failed;
    QString text;        // the joined text of the pieces done
    QString error;       // why it failed
    int failedPart = 0;  // the piece that failed, from 1; 0 when not split
    int parts = 0;       // the pieces, as far as known; 0 when not split
    // Whether the failure is the service's answer or the transfer of a
    // request (not the file, the key or the preparation).
    bool requestFailed = false;
};
Q_DECLARE_METATYPE(TranscriptionOutcome)

class TranscriptionJob
{
public:
    TranscriptionService service;
    QString key;
    QString path;
    TranscriptionLimits limits;
    qint64 smallestPieceBytes = kSmallestPieceBytes;
    // Where the folder of the prepared audio and its pieces is made.
    QString workRoot;
    // "Please wait...", "Preparing audio... 40%", "Transcribing part 2 of 5...";
    // called on the thread that runs the job.
    std::function<void(const QString &status)> onStatus;

    TranscriptionJob();
    // Runs the whole transcription on the calling thread; it ends within a
    // second of cancel becoming true. The work folder is gone on every way
    // out.
    TranscriptionOutcome run(const std::atomic<bool> &cancel) const;
};

// Removes the work folders under root that a process which is gone left
// behind (one killed in the middle of a transcription).
void removeStaleWorkFolders(const QString &root);
// The folder under which transcriptions make their work folders.
QString defaultWorkRoot();

// Runs a TranscriptionJob on a thread of its own and reports to the thread
// that owns it.
class TranscriptionRunner : public QObject
{
    Q_OBJECT
public:
    explicit TranscriptionRunner(QObject *parent = nullptr);
    // Cancels the work and waits for its thread.
    ~TranscriptionRunner() override;

    void start(TranscriptionJob job);
    void cancel();
    bool isRunning() const;
    // Waits until the thread has ended (after cancel(), within a second).
    void wait();

signals:
    void status(const QString &text);
    void finished(const TranscriptionOutcome &outcome);

private:
    QThread *m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
    TranscriptionOutcome m_outcome;
};
