#include "net/servicerequest.h"

#include "base/errors.h"
#include "net/postform.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace {

// The running state of the scrambled form: it starts at the seed and moves on
// with every scrambled byte.
constexpr quint16 kScrambleSeed = 0xA7;
constexpr quint16 kScrambleMultiplier = 0x6FD5;
constexpr quint16 kScrambleIncrement = 0x3619;

quint16 nextState(quint16 state, quint8 scrambled)
{
    return quint16((quint32(quint16(state + scrambled)) * kScrambleMultiplier + kScrambleIncrement) & 0xFFFF);
}

bool isBlank(QChar c)
{
    return c.unicode() <= 32;
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

void ServiceDiagnostics::add(const QString &message)
{
    if (trimBlanks(message).isEmpty())
        return;
    m_error = true;
    if (m_text.isEmpty())
        m_text = message;
    else
        m_text += QLatin1String("\r\r") + message;
}

void ServiceDiagnostics::clear()
{
    m_text.clear();
    m_error = false;
}

QString serviceRequest(const QString &address, const QStringList &lines, ServiceDiagnostics &diagnostics,
                       int timeoutMs)
{
    try {
        return PostForm(QLatin1String("https://") + address, lines, timeoutMs);
    } catch (const AppError &e) {
        diagnostics.add(QLatin1String("HTTPS Response:\r") + e.message());
    }
    try {
        QString reply = PostForm(QLatin1String("http://") + address, lines, timeoutMs);
        diagnostics.clear();
        return reply;
    } catch (const AppError &e) {
        diagnostics.add(QLatin1String("HTTP Response:\r") + e.message());
    }
    return QString();
}

QStringList replyLines(const QString &reply)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = reply.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = reply.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(reply.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < size && reply.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(reply.mid(start));
    return lines;
}

QString ExtractTagValue(const QString &line, const QString &tag)
{
    if (line.isEmpty() || tag.isEmpty())
        return QString();
    const QString opening = QLatin1Char('<') + tag.toLower() + QLatin1Char('>');
    const QString closing = QLatin1String("</") + tag.toLower() + QLatin1Char('>');
    if (line.size() < opening.size() + closing.size())
        return QString();
    if (!line.startsWith(opening, Qt::CaseSensitive) || !line.endsWith(closing, Qt::CaseSensitive))
        return QString();
    return line.mid(opening.size(), line.size() - opening.size() - closing.size());
}

QString ScrambleText(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray plain = text.toUtf8();
    QString out;
    out.reserve(plain.size() * 2);
    quint16 state = kScrambleSeed;
    for (const char b : plain) {
        const auto s = quint8(quint8(b) ^ quint8(state >> 8));
        state = nextState(state, s);
        out.append(QLatin1Char(hex[s >> 4]));
        out.append(QLatin1Char(hex[s & 0x0F]));
    }
    return out;
}

QString UnscrambleText(const QString &hex)
{
    const QString upper = hex.toUpper();
    const qsizetype count = upper.size() / 2;
    QByteArray plain;
    plain.reserve(count);
    quint16 state = kScrambleSeed;
    const auto digit = [](QChar c) -> int {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            return c.unicode() - '0';
        if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            return c.unicode() - 'A' + 10;
        return -1;
    };
    for (qsizetype i = 0; i < count; ++i) {
        const int high = digit(upper.at(i * 2));
        const int low = digit(upper.at(i * 2 + 1));
        if (high < 0 || low < 0)
            return QString();
        const auto s = quint8(high << 4 | low);
        plain.append(char(quint8(s ^ quint8(state >> 8))));
        state = nextState(state, s);
    }
    return QString::fromUtf8(plain);
}

QString exceptionTypeName(const std::exception &e)
{
    if (dynamic_cast<const AppError *>(&e))
        return QStringLiteral("AppError");
    const char *mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                       std::free);
    return QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
}
