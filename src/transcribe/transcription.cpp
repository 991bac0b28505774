#include "transcribe/transcription.h"

#include "base/errors.h"
#include "base/textcodec.h"
#include "net/httpexchange.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QUrl>

const char kDefaultTranscriptionServer[] = "https://api.openai.com/v1";
const QStringList kTranscriptionModels{QStringLiteral("whisper-1"), QStringLiteral("gpt-4o-transcribe"),
                                       QStringLiteral("gpt-4o-mini-transcribe")};

namespace {

QString extensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : foldAsciiCapitals(name.mid(dot));
}

// Loopback, private and link-local addresses, and "localhost".
bool onLocalNetwork(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    if (address.isNull())
        return false;
    if (address.isLoopback() || address.isLinkLocal() || address.isUniqueLocalUnicast())
        return true;
    if (address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const quint32 ip = address.toIPv4Address();
    return (ip >> 24) == 10 || (ip >> 20) == ((172u << 4) | 1u) || (ip >> 16) == ((192u << 8) | 168u);
}

} // namespace

QString MimeTypeOf(const QString &path)
{
    static const QHash<QString, QString> types{
        {QStringLiteral(".mp3"), QStringLiteral("audio/mpeg")},  {QStringLiteral(".mpga"), QStringLiteral("audio/mpeg")},
        {QStringLiteral(".mp4"), QStringLiteral("video/mp4")},   {QStringLiteral(".m4a"), QStringLiteral("audio/mp4")},
        {QStringLiteral(".mpeg"), QStringLiteral("video/mpeg")}, {QStringLiteral(".wav"), QStringLiteral("audio/wav")},
        {QStringLiteral(".webm"), QStringLiteral("video/webm")},
    };
    return types.value(extensionOf(path));
}

QString uploadTypeOf(const QString &path)
{
    const QString own = MimeTypeOf(path);
    if (!own.isEmpty())
        return own;
    if (!extensionOf(path).isEmpty()) {
        // By the name alone: the content plays no part.
        const QMimeType type = QMimeDatabase().mimeTypeForFile(QFileInfo(path).fileName(), QMimeDatabase::MatchExtension);
        if (type.isValid() && !type.isDefault())
            return type.name();
    }
    return QStringLiteral("application/octet-stream");
}

qint64 FileSizeOf(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir() ? info.size() : -1;
}

QString transcriptPathOf(const QString &audioPath)
{
    const QFileInfo info(audioPath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString folder = audioPath.left(audioPath.size() - name.size());
    return folder + (dot < 0 ? name : name.left(dot)) + QLatin1String(".txt");
}

QByteArray transcriptFileBytes(const QString &text)
{
    QString crlf = text;
    crlf.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    crlf.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return utf8WithBom(crlf);
}

QString TranscriptionService::url() const
{
    QString base = server.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QString path = QUrl(base).path();
    if (path.endsWith(QLatin1String("/audio/transcriptions")) || path.endsWith(QLatin1String("/inference")))
        return base;
    return base + QLatin1String("/audio/transcriptions");
}

bool TranscriptionService::isDefaultServer() const
{
    return server.trimmed() == QLatin1String(kDefaultTranscriptionServer);
}

QString serverProblem(const QString &server)
{
    const QUrl url(server.trimmed());
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https") && !url.host().isEmpty())
        return QString();
    if (scheme == QLatin1String("http") && onLocalNetwork(url.host()))
        return QString();
    return QStringLiteral("The transcription server must be an https address, or an http address on this "
                          "computer or the local network: %1").arg(server);
}

QString keyProblem(const QString &key)
{
    for (const QChar c : keyToSend(key)) {
        if (c.unicode() < 32 || c.unicode() == 127)
            return QStringLiteral("The API key holds a control character (a line end or a tab, perhaps pasted with "
                                  "it). Please enter the key again.");
    }
    return QString();
}

QString keyToSend(const QString &key)
{
    return trimControls(key);
}

TranscriptionReply requestTranscription(const TranscriptionService &service, const QString &key,
                                        const QString &path, const QString &prompt, const std::atomic<bool> *cancel)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(file.errorString());

    TranscriptionReply reply;
    const QString problem = serverProblem(service.server);
    if (!problem.isEmpty()) {
        reply.error = problem;
        return reply;
    }
    reply.error = keyProblem(key);
    if (!reply.error.isEmpty())
        return reply;

    ExchangeOptions options;
    options.method = "POST";
    options.tls = TlsCheck::Verify;
    options.connectTimeoutMs = service.connectTimeoutMs;
    options.inactivityTimeoutMs = service.replyTimeoutMs;
    options.cancel = cancel;
    options.maxErrorBodyBytes = kShownErrorBytes;
    // A transcript is text: even a day of speech is far below this.
    options.maxBodyBytes = 64LL * 1024 * 1024;
    options.tooLargeMessage = QStringLiteral("The transcription service sent a reply too large to be a transcript.");
    const QString sentKey = keyToSend(key);
    if (!sentKey.isEmpty())
        options.headers.append({"Authorization", "Bearer " + sentKey.toUtf8()});
    auto field = [](const char *name, const QString &value) {
        FormPart part;
        part.name = name;
        part.value = value.toUtf8();
        return part;
    };
    options.multipart = {field("model", service.model)};
    if (!service.language.trimmed().isEmpty())
        options.multipart.append(field("language", service.language.trimmed()));
    if (!prompt.isEmpty())
        options.multipart.append(field("prompt", prompt));
    FormPart media;
    media.name = "file";
    media.file = &file;
    media.fileName = QFileInfo(path).fileName().toUtf8();
    media.contentType = uploadTypeOf(path).toUtf8();
    options.multipart.append(media);

    ExchangeResult result;
    try {
        result = runExchange(QUrl(service.url()), options);
    } catch (const AppError &e) {
        reply.error = e.message();
        return reply;
    }
    reply.status = result.status;
    const QString body = decodeWithCharset(result.body, charsetOf(result.header("Content-Type")), "UTF-8");
    if (result.status != 200) {
        reply.error = trimControls(body).isEmpty() ? result.statusLine() : body;
        return reply;
    }
    const QJsonDocument json = QJsonDocument::fromJson(body.toUtf8());
    const QJsonValue text = json.isObject() ? json.object().value(QLatin1String("text")) : QJsonValue();
    if (!text.isString()) {
        reply.error = QStringLiteral("The transcription service sent a reply that cannot be read: it is not a "
                                     "JSON object with a \"text\" string.");
        return reply;
    }
    reply.ok = true;
    reply.text = text.toString();
    return reply;
}
