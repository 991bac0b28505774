#include "base/textcodec.h"

#include "base/errors.h"
#include "platform/largebuffer.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <fcntl.h>
#include <unistd.h>

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

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
    static const char utf16LeBom[] = "\xFF\xFE";
    static const char utf16BeBom[] = "\xFE\xFF";

    const bool hasUtf8Bom = startsWith(bytes, kUtf8Bom, 3);
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

namespace {

// How many bytes at the start of [from, end) are ASCII other than CR, LF and
// NUL, i.e. stand for themselves in the text; looks at 16 bytes at a time
// where the processor allows.
inline qsizetype plainAsciiRun(const char *from, const char *end)
{
    const char *p = from;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        // A byte of 0x80 or above has its top bit set, as do the matches.
        const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf));
        const __m128i stop = _mm_or_si128(v, _mm_or_si128(breaks, _mm_cmpeq_epi8(v, nul)));
        const int mask = _mm_movemask_epi8(stop);
        if (mask != 0)
            return (p - from) + qCountTrailingZeroBits(uint(mask));
        p += 16;
    }
#endif
    while (p < end && uchar(*p) < 0x80 && *p != '\r' && *p != '\n' && *p != '\0')
        ++p;
    return p - from;
}

// Widens n ASCII bytes to UTF-16.
inline QChar *widenAscii(QChar *to, const char *from, qsizetype n)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i)
        to[i] = QChar(char16_t(uchar(from[i])));
    return to + n;
}

} // namespace

QString decodeTextCrLf(const QByteArray &bytes)
{
    CrLfTextBuilder builder;
    builder.reserveFor(bytes.size());
    builder.append(bytes);
    return builder.take();
}

// As long as the bytes are valid UTF-8, CR, LF and NUL bytes never occur
// inside a multi-byte sequence, so the line ends are rewritten while decoding.
// Should the bytes turn out not to be UTF-8, the text so far is encoded back:
// valid UTF-8 comes back byte for byte, and the line ends it lost play no part
// in the general decoding, which makes them CR LF again.

void CrLfTextBuilder::reserveFor(qint64 byteCount)
{
    // An announced length is only a promise: beyond this the text grows as
    // the bytes come.
    constexpr qint64 kMaxReserve = 128LL * 1024 * 1024;
    if (m_mode == Mode::Decoding && byteCount > 0)
        ensureRoom(qMin(byteCount, kMaxReserve));
}

void CrLfTextBuilder::ensureRoom(qint64 bytes)
{
    // The worst case: every byte a line end that becomes CR LF, and the final
    // CR LF. The pages beyond what the text fills are never touched, so the
    // operating system gives them no memory.
    const qint64 need = 2 * (bytes + m_pending.size()) + 2;
    if (qint64(m_written) + need <= m_blockSize)
        return;
    if (m_written > 0) {
        m_full.push_back(FullBlock{std::move(m_text), std::move(m_memory), m_written});
        m_fullChars += m_written;
        m_text = QString();
    }
    if (m_full.empty()) {
        // The first block is the text itself when it fits in one.
        m_text = QString(qsizetype(need), Qt::Uninitialized);
        adviseLargeBuffer(m_text.data(), need * qint64(sizeof(QChar)));
        m_block = m_text.data();
        m_blockSize = m_text.size();
    } else {
        // Each block about as large as the text before it, up to the block
        // size: a short text is not given a large block.
        const qint64 size = qMax(need, qMin(qint64(m_fullChars), qint64(m_blockChars)));
        m_memory = LargeBlock(size * qint64(sizeof(QChar)));
        m_block = reinterpret_cast<QChar *>(m_memory.data());
        m_blockSize = qsizetype(size);
    }
    m_written = 0;
}

QChar CrLfTextBuilder::lastChar() const
{
    if (m_written > 0)
        return m_block[m_written - 1];
    return m_full.empty() ? QChar() : m_full.back().data()[m_full.back().chars - 1];
}

QString CrLfTextBuilder::joinBlocks(bool addLineBreak)
{
    const qsizetype size = m_fullChars + m_written + (addLineBreak ? 2 : 0);
    QString text(size, Qt::Uninitialized);
    adviseLargeBuffer(text.data(), qint64(size) * qint64(sizeof(QChar)));
    QChar *to = text.data();
    // Each block is given back as soon as it is copied, so the memory held
    // stays near the size of the text itself.
    for (FullBlock &block : m_full) {
        std::memcpy(to, block.data(), size_t(block.chars) * sizeof(QChar));
        to += block.chars;
        block = FullBlock();
    }
    std::memcpy(to, m_block, size_t(m_written) * sizeof(QChar));
    to += m_written;
    if (addLineBreak) {
        *to++ = u'\r';
        *to++ = u'\n';
    }
    return text;
}

void CrLfTextBuilder::append(QByteArrayView piece)
{
    if (piece.isEmpty())
        return;
    switch (m_mode) {
    case Mode::Raw:
        m_raw.append(piece);
        return;
    case Mode::AfterNul:
        m_afterNul.append(piece);
        return;
    case Mode::Decoding:
        break;
    }
    if (!m_headDone) {
        // The first bytes wait while they can still be a byte-order mark.
        while (!piece.isEmpty() && m_head.size() < 3 && piece.front() == kUtf8Bom[m_head.size()]) {
            m_head.append(piece.front());
            piece = piece.sliced(1);
        }
        if (m_head.size() < 3 && piece.isEmpty())
            return;
        m_headDone = true;
        if (m_head.size() == 3) {
            m_hadBom = true;
        } else if (!m_head.isEmpty()) {
            ensureRoom(m_head.size());
            decode(m_head.constData(), m_head.constData() + m_head.size());
        }
        m_head.clear();
        if (m_mode != Mode::Decoding) {
            append(piece);
            return;
        }
    }
    ensureRoom(piece.size());
    decode(piece.data(), piece.data() + piece.size());
}

bool CrLfTextBuilder::decodeRun(QByteArrayView run, QChar *&to)
{
    // Stateless: a sequence cut off at the end of the run is an error; a
    // byte-order mark is kept as a character, as the plain decoding keeps it.
    QStringDecoder utf8(QStringConverter::Utf8,
                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QChar *const start = to;
    // A mark at the very start of the text is dropped, as QString::fromUtf8 does.
    const bool textStart = m_full.empty() && to == m_block && run.startsWith(QByteArrayView(kUtf8Bom, 3));
    to = utf8.appendToBuffer(to, textStart ? run.sliced(3) : run);
    if (utf8.hasError()) {
        to = start;
        return false;
    }
    m_droppedTextBom = m_droppedTextBom || textStart;
    return true;
}

void CrLfTextBuilder::switchToRaw(QByteArrayView rest)
{
    QByteArray raw;
    if (m_hadBom)
        raw.append(kUtf8Bom, 3);
    if (m_droppedTextBom)
        raw.append(kUtf8Bom, 3);
    for (const FullBlock &block : m_full)
        raw.append(QStringView(block.data(), block.chars).toUtf8());
    raw.append(QStringView(m_block, m_written).toUtf8());
    raw.append(rest);
    m_raw = std::move(raw);
    m_full.clear();
    m_fullChars = 0;
    m_text = QString();
    m_memory = LargeBlock();
    m_block = nullptr;
    m_blockSize = 0;
    m_written = 0;
    m_pending.clear();
    m_mode = Mode::Raw;
}

void CrLfTextBuilder::decode(const char *from, const char *end)
{
    QChar *to = m_block + m_written;
    auto sync = [&] { m_written = to - m_block; };

    if (!m_pending.isEmpty()) {
        // The run the last piece ended in goes on while the bytes are non-ASCII.
        const char *stop = from;
        while (stop < end && uchar(*stop) >= 0x80)
            ++stop;
        m_pending.append(from, stop - from);
        from = stop;
        if (from == end) {
            sync();
            return;
        }
        if (!decodeRun(m_pending, to)) {
            sync();
            QByteArray rest = m_pending;
            rest.append(from, end - from);
            switchToRaw(rest);
            return;
        }
        m_pending.clear();
    }
    if (m_lastWasCr && from < end && *from == '\n')
        ++from;  // the LF of a CR LF split between two pieces
    m_lastWasCr = false;

    while (from < end) {
        const qsizetype plain = plainAsciiRun(from, end);
        if (plain > 0) {
            to = widenAscii(to, from, plain);
            from += plain;
            if (from == end)
                break;
        }
        const uchar c = uchar(*from);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && from + 1 == end)
                m_lastWasCr = true;
            from += (c == '\r' && from + 1 < end && from[1] == '\n') ? 2 : 1;
            *to++ = u'\r';
            *to++ = u'\n';
        } else if (c == 0) {
            // The text ends here; what follows only has to be valid UTF-8.
            sync();
            m_mode = Mode::AfterNul;
            m_afterNul = QByteArray(from + 1, end - from - 1);
            return;
        } else {
            // A run of non-ASCII bytes goes through the decoder; it ends at an
            // ASCII byte, so a valid sequence is never split. One that reaches
            // the end of the piece waits for the next.
            const char *stop = from + 1;
            while (stop < end && uchar(*stop) >= 0x80)
                ++stop;
            if (stop == end) {
                m_pending = QByteArray(from, stop - from);
                break;
            }
            if (!decodeRun(QByteArrayView(from, stop - from), to)) {
                sync();
                switchToRaw(QByteArrayView(from, end - from));
                return;
            }
            from = stop;
        }
    }
    sync();
}

QString CrLfTextBuilder::take()
{
    if (!m_headDone && !m_head.isEmpty()) {
        // Fewer than three bytes in all, the start of a byte-order mark: text.
        m_headDone = true;
        ensureRoom(m_head.size());
        decode(m_head.constData(), m_head.constData() + m_head.size());
    }
    if (m_mode == Mode::Decoding && !m_pending.isEmpty()) {
        QChar *to = m_block + m_written;
        if (decodeRun(m_pending, to)) {
            m_written = to - m_block;
            m_pending.clear();
        } else {
            switchToRaw(m_pending);
        }
    }
    if (m_mode == Mode::AfterNul && !m_afterNul.isValidUtf8()) {
        switchToRaw(QByteArray(1, '\0') + m_afterNul);
    }

    QString text;
    if (m_mode == Mode::Raw) {
        text = normalizeLineEnds(decodeText(m_raw));
    } else {
        // Every line end became CR LF, and an LF comes from nothing else: a
        // text not ending in one lacks its final line break.
        const QChar last = lastChar();
        const bool addLineBreak = !last.isNull() && last != u'\n';
        if (!m_full.empty()) {
            text = joinBlocks(addLineBreak);
        } else {
            if (addLineBreak) {
                m_block[m_written++] = u'\r';
                m_block[m_written++] = u'\n';
            }
            m_text.truncate(m_written);
            text = std::move(m_text);
        }
    }
    *this = CrLfTextBuilder(m_blockChars);
    return text;
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
