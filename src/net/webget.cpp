#include "net/webget.h"

#include "base/errors.h"
#include "base/textcodec.h"
#include "net/httpexchange.h"

#include <QIODevice>
#include <QUrl>

const char kFetchUserAgent[] =
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/41.0.2228.0 Safari/537.36";

namespace {

ExchangeOptions getOptions(int inactivityTimeoutMs)
{
    ExchangeOptions options;
    options.method = "GET";
    options.redirects = RedirectRule::Counted;
    options.inactivityTimeoutMs = inactivityTimeoutMs;
    options.tls = TlsCheck::None;
    return options;
}

// A final response outside 2xx (a 3xx without Location and a 304 included)
// fails with its status line.
void requireSuccess(const ExchangeResult &result)
{
    if (!result.redirectLimitReached && !result.isSuccess())
        throw HttpStatusError(result.statusLine());
}

} // namespace

QString FetchUrl(const QString &url)
{
    return FetchUrl(url, FetchLimits());
}

QString FetchUrl(const QString &url, int inactivityTimeoutMs)
{
    FetchLimits limits;
    limits.inactivityTimeoutMs = inactivityTimeoutMs;
    return FetchUrl(url, limits);
}

namespace {

// Turns the body into text as it arrives, so a large feed is never held as
// bytes and as text at once.
class TextSink final : public QIODevice
{
public:
    TextSink() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

    CrLfTextBuilder text;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        text.append(QByteArrayView(data, size));
        return size;
    }
};

} // namespace

QString FetchUrl(const QString &url, const FetchLimits &limits)
{
    TextSink sink;
    ExchangeOptions options = getOptions(limits.inactivityTimeoutMs);
    options.headers.append({QByteArray("User-Agent"), QByteArray(kFetchUserAgent)});
    options.sink = &sink;
    options.totalTimeoutMs = limits.totalTimeoutMs;
    options.totalTimeoutMessage = limits.totalTimeoutMessage;
    options.maxBodyBytes = limits.maxBytes;
    options.tooLargeMessage = limits.tooLargeMessage;
    const ExchangeResult result = runExchange(QUrl(url), options);
    requireSuccess(result);
    if (result.redirectLimitReached)
        return QString();
    return sink.text.take();
}

int progressPercent(qint64 count, qint64 length, const QString &transferEncoding)
{
    return progressPercent(count, length, transferEncoding.toLower().contains(QLatin1String("chunked")));
}

int progressPercent(qint64 count, qint64 length, bool chunked)
{
    if (chunked || length <= 0)
        return -1;
    return int(count * 100 / length);
}

DownloadTransfer::Result DownloadTransfer::get(const QString &url, QIODevice *sink)
{
    ExchangeOptions options = getOptions(inactivityTimeoutMs);
    options.sink = sink;
    options.headers = headers;
    options.onBodyStart = onBodyStart;
    options.onProgress = onProgress;
    options.onRedirect = onRedirect;
    options.cancel = cancel;
    const ExchangeResult exchange = runExchange(QUrl(url), options);
    requireSuccess(exchange);

    Result result;
    result.bytesWritten = exchange.bodyBytes;
    result.redirects = exchange.redirects;
    result.redirectLimitReached = exchange.redirectLimitReached;
    return result;
}
