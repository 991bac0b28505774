#include "net/postform.h"

#include "base/errors.h"
#include "base/textcodec.h"
#include "net/httpexchange.h"

#include <QUrl>

namespace {

constexpr int kSecureRedirectLimit = 5;
// The maker's replies are a few lines; this is far beyond any of them.
constexpr qint64 kMaxReplyBytes = 16LL * 1024 * 1024;

ExchangeOptions postOptions(const QByteArray &body, int timeoutMs)
{
    ExchangeOptions options;
    options.method = "POST";
    options.body = body;
    options.inactivityTimeoutMs = timeoutMs;
    // The time-out bounds the attempt as a whole: a server that trickles a
    // byte now and then cannot keep it going.
    options.totalTimeoutMs = timeoutMs;
    options.totalTimeoutAsInactivity = true;
    options.maxBodyBytes = kMaxReplyBytes;
    options.tooLargeMessage = QStringLiteral("The reply is too large");
    return options;
}

bool keptAsIs(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || c == '-' || c == '.' || c == '_';
}

QString postSecure(const QString &url, const QByteArray &body, int timeoutMs)
{
    ExchangeOptions options = postOptions(body, timeoutMs);
    options.headers = {{"Connection", "close"},
                       {"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"}};
    options.redirects = RedirectRule::Browser;
    options.maxRedirects = kSecureRedirectLimit;
    options.tls = TlsCheck::Verify;
    const ExchangeResult result = runExchange(QUrl(url), options);
    return decodeWithCharset(result.body, charsetOf(result.header("Content-Type")), "UTF-8");
}

QString postPlain(const QString &url, const QByteArray &body, int timeoutMs)
{
    const QUrl target(url);
    if (!target.isValid() || target.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0
        || target.host().isEmpty())
        throw AppError(QStringLiteral("Unsupported URL: %1").arg(url));

    ExchangeOptions options = postOptions(body, timeoutMs);
    options.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    options.redirects = RedirectRule::None;
    const ExchangeResult result = runExchange(target, options);
    if (!result.isSuccess())
        throw AppError(result.statusLine());
    return decodeWithCharset(result.body, charsetOf(result.header("Content-Type")), "ISO-8859-1");
}

} // namespace

QByteArray encodeFormComponent(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        if (keptAsIs(c)) {
            out.append(c);
        } else if (c == ' ') {
            out.append('+');
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.append('%');
            out.append(hex[byte >> 4]);
            out.append(hex[byte & 0x0F]);
        }
    }
    return out;
}

QByteArray encodeForm(const QStringList &fields)
{
    QByteArray body;
    for (const QString &field : fields) {
        const qsizetype eq = field.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? field : field.left(eq);
        const QString value = eq < 0 ? QString() : field.mid(eq + 1);
        if (!body.isEmpty())
            body.append('&');
        body.append(encodeFormComponent(name));
        body.append('=');
        body.append(encodeFormComponent(value));
    }
    return body;
}

QString PostForm(const QString &url, const QStringList &fields, int timeoutMs)
{
    const QByteArray body = encodeForm(fields);
    // ASCII letters only: the URL's other characters stay as they are.
    if (foldAsciiCapitals(url).startsWith(QLatin1String("https://")))
        return postSecure(url, body, timeoutMs);
    return postPlain(url, body, timeoutMs);
}
