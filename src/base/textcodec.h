#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "platform/largebuffer.h"

#include <vector>

// How the program reads text that others wrote (list.txt, feeds): strict UTF-8
// first (a leading UTF-8 byte-order mark skipped); when the bytes are not valid
// UTF-8, by their byte-order mark (UTF-8, UTF-16LE, UTF-16BE); without one, as
// Windows-1252, the ANSI code page the program's files have always used.
QString decodeText(const QByteArray &bytes);

// Split text into lines at CR LF, a lone CR and a lone LF; a NUL character ends
// the text. A final line break does not make an extra empty line.
QStringList splitLines(QStringView text);

// The same text as joinLinesCrLf(splitLines(text)), in one pass: cut at the
// first NUL, every line end (CR LF, CR or LF) made CR LF, and a CR LF after a
// last line that had none. An empty text stays empty.
QString normalizeLineEnds(QStringView text);

// decodeText() followed by normalizeLineEnds(), with the decoding and the line
// ends done in one pass for UTF-8 (the text of a fetched feed).
QString decodeTextCrLf(const QByteArray &bytes);

// Builds the text decodeTextCrLf() gives for bytes that arrive in pieces (a
// feed as it comes off the network), without keeping the bytes: UTF-8 is
// decoded piece by piece; only bytes that turn out not to be UTF-8 are kept,
// to be decoded the general way at the end.
//
// A long text is written into a series of blocks, each allocated once, and
// joined when it is taken: growing one buffer instead would move it again and
// again, and on Linux a moved mapping loses its huge pages, so that every page
// of the rest of a large feed costs a fault of its own.
class CrLfTextBuilder
{
public:
    // The largest block a long text is written in, in characters.
    static constexpr qsizetype kDefaultBlockChars = 4 * 1024 * 1024;

    CrLfTextBuilder() = default;
    // Smaller blocks than usual (for tests: every piece can start a block).
    explicit CrLfTextBuilder(qsizetype blockChars) : m_blockChars(blockChars) {}

    // Makes room for a text of that many bytes, when the length is known.
    void reserveFor(qint64 byteCount);
    void append(QByteArrayView piece);
    // The text of all pieces so far; the builder is empty afterwards.
    QString take();

private:
    enum class Mode { Decoding, AfterNul, Raw };

    void decode(const char *from, const char *end);
    bool decodeRun(QByteArrayView run, QChar *&to);
    void ensureRoom(qint64 bytes);
    void switchToRaw(QByteArrayView rest);
    QChar lastChar() const;
    QString joinBlocks(bool addLineBreak);

    // A block the text was written in before the current one.
    struct FullBlock
    {
        QString text;        // the first block
        LargeBlock memory;   // or one of the later ones
        qsizetype chars = 0;
        const QChar *data() const
        {
            return memory.data() ? reinterpret_cast<const QChar *>(memory.data()) : text.constData();
        }
    };

    qsizetype m_blockChars = kDefaultBlockChars;
    Mode m_mode = Mode::Decoding;
    QByteArray m_head;          // the first bytes while they may be a byte-order mark
    bool m_headDone = false;
    bool m_hadBom = false;
    bool m_droppedTextBom = false;  // a second mark, right after the first
    std::vector<FullBlock> m_full;
    qsizetype m_fullChars = 0;  // the characters in m_full
    QString m_text;             // the first block, while it is the current one
    LargeBlock m_memory;        // the current block after the first
    QChar *m_block = nullptr;   // the current block: its first m_written characters are text
    qsizetype m_blockSize = 0;
    qsizetype m_written = 0;
    QByteArray m_pending;       // a run of non-ASCII bytes the last piece ended in
    bool m_lastWasCr = false;   // the last byte was a CR (its LF may follow)
    QByteArray m_afterNul;      // the bytes after the first NUL, only to be validated
    QByteArray m_raw;           // Raw mode: bytes equivalent to everything so far
};

// The lines joined with CR LF after every one of them, the last one included.
QString joinLinesCrLf(const QStringList &lines);

// The text without the characters of code 32 or below (blanks and control
// characters) at either end.
QString trimControls(QStringView text);

// The text with the ASCII capitals A-Z made lower case; no other character
// changes (so "É" stays "É").
QString foldAsciiCapitals(QString text);

// Encode as UTF-8 with the byte-order mark EF BB BF in front.
QByteArray utf8WithBom(const QString &text);

// Replace the file atomically with the bytes: a crash or a full disk in the
// middle of the write leaves the old file as it was. Throws AppError with the
// system's message when the file cannot be written. ownerOnly makes the file
// readable and writable by its owner alone (0600).
void writeFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly = false);
