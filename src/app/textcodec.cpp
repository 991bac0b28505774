#include "app/textcodec.h"

#include "app/errors.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool startsWith(const QByteArray &bytes, const char *bom, int size)
{
    return bytes.size() >= size && memcmp(bytes.constData(), bom, size_t(size)) == 0;
}

QString decodeWith(QStringDecoder decoder, QByteArrayView bytes)
{
    return decoder.decode(bytes);
}

} // namespace

QString decodeText(const QByteArray &bytes)
{
    static const char utf8Bom[] = "\xEF\xBB\xBF";
    static const char utf16LeBom[] = "\xFF\xFE";
    static const char utf16BeBom[] = "\xFE\xFF";

    const bool hasUtf8Bom = startsWith(bytes, utf8Bom, 3);
    const QByteArrayView body = QByteArrayView(bytes).sliced(hasUtf8Bom ? 3 : 0);
    if (body.isValidUtf8())
        return QString::fromUtf8(body);
    if (hasUtf8Bom)
        return decodeWith(QStringDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless),
                          QByteArrayView(bytes).sliced(3));
    if (startsWith(bytes, utf16LeBom, 2))
        return decodeWith(QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless),
                          QByteArrayView(bytes).sliced(2));
    if (startsWith(bytes, utf16BeBom, 2))
        return decodeWith(QStringDecoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless),
                          QByteArrayView(bytes).sliced(2));

    QStringDecoder ansi("windows-1252", QStringConverter::Flag::Stateless);
    if (ansi.isValid())
        return ansi.decode(bytes);
    // Qt without ICU has no Windows-1252; Latin-1 differs only in 0x80-0x9F.
    return QString::fromLatin1(bytes);
}

QStringList splitLines(QStringView text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text = text.left(nul);

    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start).toString());
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.mid(start).toString());
    return lines;
}

QString normalizeLineEnds(QStringView text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text = text.left(nul);
    if (text.isEmpty())
        return QString();

    // At most every character becomes two (a lone CR or LF), plus the final break.
    QString out(text.size() + text.count(u'\n') + text.count(u'\r') + 2, Qt::Uninitialized);
    QChar *to = out.data();
    const QChar *from = text.data();
    const QChar *const end = from + text.size();
    while (from < end) {
        const QChar c = *from++;
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && from < end && *from == u'\n')
                ++from;
            *to++ = u'\r';
            *to++ = u'\n';
        } else {
            *to++ = c;
        }
    }
    if (text.back() != u'\r' && text.back() != u'\n') {
        *to++ = u'\r';
        *to++ = u'\n';
    }
    out.truncate(to - out.constData());
    return out;
}

QString decodeTextCrLf(const QByteArray &bytes)
{
    const bool hasUtf8Bom = startsWith(bytes, "\xEF\xBB\xBF", 3);
    QByteArrayView body = QByteArrayView(bytes).sliced(hasUtf8Bom ? 3 : 0);

    // As long as the bytes are valid UTF-8, CR, LF and NUL bytes never occur
    // inside a multi-byte sequence, so the line ends are rewritten while
    // decoding, straight into a text of the final size. Bytes that turn out
    // not to be UTF-8 take the general road.
    const qsizetype nul = body.indexOf('\0');
    const QByteArrayView text = nul >= 0 ? body.first(nul) : body;
    const qsizetype breaks = text.count('\n') + text.count('\r');
    QString out(text.size() + breaks + 2, Qt::Uninitialized);
    QChar *to = out.data();
    // Each run of non-ASCII bytes is decoded on its own (stateless: a sequence
    // cut off at the end of a run is an error), and a byte-order mark is kept
    // as a character, as the plain decoding keeps it.
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const char *from = text.data();
    const char *const end = from + text.size();
    while (from < end) {
        const uchar c = uchar(*from);
        if (c == '\r' || c == '\n') {
            from += (c == '\r' && from + 1 < end && from[1] == '\n') ? 2 : 1;
            *to++ = u'\r';
            *to++ = u'\n';
        } else if (c < 0x80) {
            *to++ = QChar(char16_t(c));
            ++from;
        } else {
            // A run of non-ASCII bytes goes through the decoder; it ends at an
            // ASCII byte, so a valid sequence is never split.
            const char *stop = from + 1;
            while (stop < end && uchar(*stop) >= 0x80)
                ++stop;
            to = utf8.appendToBuffer(to, QByteArrayView(from, stop - from));
            from = stop;
        }
    }
    if (!text.isEmpty() && text.back() != '\r' && text.back() != '\n') {
        *to++ = u'\r';
        *to++ = u'\n';
    }
    if (utf8.hasError() || (nul >= 0 && !body.sliced(nul).isValidUtf8()))
        return normalizeLineEnds(decodeText(bytes));
    out.truncate(to - out.constData());
    return out;
}

QString joinLinesCrLf(const QStringList &lines)
{
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    QString out;
    out.reserve(size);
    for (const QString &line : lines) {
        out += line;
        out += QLatin1String("\r\n");
    }
    return out;
}

QString trimControls(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.mid(begin, end - begin).toString();
}

QString foldAsciiCapitals(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z')
            c = QChar(char16_t(u + (u'a' - u'A')));
    }
    return text;
}

QByteArray utf8WithBom(const QString &text)
{
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void writeFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly)
{
    const auto ownerRw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (ownerOnly) {
        // QSaveFile keeps the permissions of the file it replaces, so narrow
        // them (or create the file narrow) before the temporary file is made.
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
        QFile::setPermissions(path, ownerRw);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(QStringLiteral("Cannot write file \"%1\". %2").arg(path, file.errorString()));
    if (ownerOnly)
        QFile::setPermissions(path, ownerRw);
}
