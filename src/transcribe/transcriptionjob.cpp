#include "transcribe/transcriptionjob.h"

#include "base/errors.h"
#include "transcribe/audioprep.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <limits>

namespace {

const QString kWorkFolderPrefix = QStringLiteral("morvane-transcribe-");
const QString kLockName = QStringLiteral("owner.lock");
constexpr int kPromptWords = 200;
constexpr int kPromptMaxChars = 2000;

// The folder of one transcription's prepared audio and pieces, held by a lock
// that tells a later start whether its process is still alive.
class WorkFolder
{
public:
    explicit WorkFolder(const QString &root)
        : m_dir(QDir(root).filePath(kWorkFolderPrefix + QStringLiteral("XXXXXX"))),
          m_lock(m_dir.isValid() ? m_dir.filePath(kLockName) : QString())
    {
        if (!m_dir.isValid() || !m_lock.tryLock(0))
            throw AppError(QStringLiteral("A folder for the prepared audio cannot be made in %1.").arg(root));
    }
    ~WorkFolder() { m_lock.unlock(); }

    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;  // removed, with everything in it, last
    QLockFile m_lock;
};

QString joined(const QString &done, const QString &more)
{
    const QString text = more.trimmed();
    if (done.isEmpty())
        return text;
    if (text.isEmpty())
        return done;
    return done + QLatin1Char(' ') + text;
}

} // namespace

TranscriptionLimits limitsOf(const TranscriptionService &service)
{
    TranscriptionLimits limits;
    if (!service.isDefaultServer())
        return limits;
    limits.requestBytes = kDefaultServerRequestBytes;
    if (service.model.trimmed().startsWith(QLatin1String("gpt-4o")))
        limits.pieceSeconds = kGpt4oPieceSeconds;
    return limits;
}

QString promptAfter(const QString &text)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QStringList words = text.split(space, Qt::SkipEmptyParts);
    if (words.size() > kPromptWords)
        words = words.mid(words.size() - kPromptWords);
    QString prompt = words.join(QLatin1Char(' '));
    if (prompt.size() > kPromptMaxChars) {
        prompt = prompt.right(kPromptMaxChars);
        const qsizetype cut = prompt.indexOf(QLatin1Char(' '));
        if (cut >= 0)
            prompt = prompt.mid(cut + 1);
    }
    return prompt;
}

QString defaultWorkRoot()
{
    return QDir::tempPath();
}

void removeStaleWorkFolders(const QString &root)
{
    const QFileInfoList folders =
        QDir(root).entryInfoList({kWorkFolderPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &folder : folders) {
        QLockFile lock(QDir(folder.filePath()).filePath(kLockName));
        // Only a lock whose process is gone counts as stale, however old.
        lock.setStaleLockTime(std::numeric_limits<int>::max());
        if (!lock.tryLock(0))
            continue;  // another run of the program is working in it
        lock.unlock();
        QDir(folder.filePath()).removeRecursively();
    }
}

TranscriptionJob::TranscriptionJob() : workRoot(defaultWorkRoot()) {}

TranscriptionOutcome TranscriptionJob::run(const std::atomic<bool> &cancel) const
{
    TranscriptionOutcome outcome;
    auto say = [this](const QString &text) {
        if (onStatus)
            onStatus(text);
    };
    auto cancelled = [&] {
        outcome.end = TranscriptionOutcome::End::Cancelled;
        outcome.error = QStringLiteral("Cancelled");
        return outcome;
    };
    auto failed = [&](const QString &message) {
        outcome.end = TranscriptionOutcome::End::Failed;
        outcome.error = message;
        return outcome;
    };

    try {
        // A file that fits goes as it is.
        bool fits = limits.requestBytes < 0 || FileSizeOf(path) + kFormAllowanceBytes <= limits.requestBytes;
        if (fits && limits.pieceSeconds > 0) {
            const AudioProbe probe = probeAudio(path);
            if (!probe.ok)
                return failed(probe.error);
            fits = probe.seconds >= 0 && probe.seconds <= limits.pieceSeconds;
        }
        qint64 budget = limits.requestBytes < 0 ? -1 : limits.requestBytes - kFormAllowanceBytes;
        if (fits) {
            say(QStringLiteral("Please wait..."));
            const TranscriptionReply reply = requestTranscription(service, key, path, QString(), &cancel);
            if (cancel.load())
                return cancelled();
            if (reply.ok) {
                outcome.end = TranscriptionOutcome::End::Done;
                outcome.text = reply.text;
                return outcome;
            }
            // A server that does not say its limit until it refuses: the
            // audio is prepared, then sent whole as long as it is taken.
            if (reply.status != 413) {
                outcome.requestFailed = true;
                return failed(reply.error);
            }
        }
        if (!keyProblem(key).isEmpty())
            return failed(keyProblem(key));

        const WorkFolder folder(workRoot);
        say(QStringLiteral("Preparing audio... 0%"));
        const PreparedAudio audio = prepareAudio(path, folder.filePath(QStringLiteral("prepared.mp3")), &cancel,
                                                 [&](int percent) { say(QStringLiteral("Preparing audio... %1%").arg(percent)); });
        const QString piecePath = folder.filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".mp3"));
        const int frames = int(audio.frames.size());
        int first = 0;
        int done = 0;
        while (first < frames) {
            if (cancel.load())
                return cancelled();
            const AudioPiece piece = nextPiece(audio, first, budget, limits.pieceSeconds);
            int left = 0;
            for (int at = first; at < frames; ++left)
                at = nextPiece(audio, at, budget, limits.pieceSeconds).end;
            outcome.parts = done + left;
            say(QStringLiteral("Transcribing part %1 of %2...").arg(done + 1).arg(outcome.parts));
            writePiece(audio, piece, piecePath);
            const TranscriptionReply reply =
                requestTranscription(service, key, piecePath, promptAfter(outcome.text), &cancel);
            QFile::remove(piecePath);
            if (cancel.load())
                return cancelled();
            if (!reply.ok && reply.status == 413 && piece.bytes > smallestPieceBytes) {
                // Still too large for the service: smaller pieces from here on.
                budget = qMax(piece.bytes / 2, smallestPieceBytes);
                continue;
            }
            if (!reply.ok) {
                outcome.failedPart = done + 1;
                outcome.requestFailed = true;
                return failed(reply.error);
            }
            outcome.text = joined(outcome.text, reply.text);
            ++done;
            first = piece.end;
        }
        outcome.parts = done;
        outcome.end = TranscriptionOutcome::End::Done;
        return outcome;
    } catch (const AppError &e) {
        if (cancel.load())
            return cancelled();
        return failed(e.message());
    } catch (const std::exception &e) {
        return failed(exceptionMessage(e));
    }
}

TranscriptionRunner::TranscriptionRunner(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<TranscriptionOutcome>();
}

TranscriptionRunner::~TranscriptionRunner()
{
    cancel();
    wait();
    delete m_thread;
}

void TranscriptionRunner::start(TranscriptionJob job)
{
    if (m_thread)
        return;
    m_cancel = false;
    m_outcome = TranscriptionOutcome();
    job.onStatus = [this](const QString &text) { emit status(text); };
    m_thread = QThread::create([this, job] { m_outcome = job.run(m_cancel); });
    connect(m_thread, &QThread::finished, this, [this] {
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        emit finished(m_outcome);
    }, Qt::QueuedConnection);
    m_thread->start();
}

void TranscriptionRunner::cancel()
{
    m_cancel = true;
}

bool TranscriptionRunner::isRunning() const
{
    return m_thread != nullptr;
}

void TranscriptionRunner::wait()
{
    if (m_thread)
        m_thread->wait();
}
