#include "transcribe/publishertranscript.h"

#include "base/errors.h"
#include "base/textcodec.h"
#include "net/webget.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <memory>

namespace {

// ---- Paragraphs ----------------------------------------------------------------

// Collects the pieces of a transcript into paragraphs by speaker.
class Paragraphs
{
public:
    void add(const QString &speaker, const QString &piece)
    {
        const QString text = piece.simplified();
        if (text.isEmpty())
            return;
        if (m_open && (speaker.isEmpty() || speaker == m_speaker)) {
            m_current += u' ';
            m_current += text;
            return;
        }
        finish();
        m_open = true;
        m_speaker = speaker;
        m_current = speaker.isEmpty() ? text : speaker + QStringLiteral(": ") + text;
    }
    QString take()
    {
        finish();
        return m_done.join(QStringLiteral("\n\n"));
    }

private:
    void finish()
    {
        if (m_open)
            m_done.append(m_current);
        m_open = false;
        m_current.clear();
    }

    QStringList m_done;
    QString m_current;
    QString m_speaker;
    bool m_open = false;
};

QStringList linesOf(QStringView text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text = text.sliced(1);
    return splitLines(text);
}

bool isBlank(const QString &line)
{
    return line.trimmed().isEmpty();
}

// ---- Character references --------------------------------------------------------

// The character of a reference's name ("amp", "#233", "#x1F600"), or an empty
// text when it names none.
QString referencedCharacter(QStringView name)
{
    if (name.startsWith(u'#')) {
        bool ok = false;
        const uint code = name.size() > 1 && (name[1] == u'x' || name[1] == u'X') ? name.sliced(2).toUInt(&ok, 16)
                                                                                  : name.sliced(1).toUInt(&ok, 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return QString();
        const char32_t c = code;
        return QString::fromUcs4(&c, 1);
    }
    if (name == u"lrm")
        return QString(QChar(0x200E));
    if (name == u"rlm")
        return QString(QChar(0x200F));
    const QByteArray ascii = name.toLatin1();
    if (const htmlEntityDesc *entity = htmlEntityLookup(reinterpret_cast<const xmlChar *>(ascii.constData()))) {
        const char32_t c = entity->value;
        return QString::fromUcs4(&c, 1);
    }
    return QString();
}

// The longest reference name looked at ("CounterClockwiseContourIntegral"
// is the longest of HTML's).
constexpr qsizetype kMaxReferenceName = 32;

// The text with its character references decoded; an ampersand that starts
// none stays as it is.
QString decodeReferences(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype amp = text.indexOf(u'&', i);
        if (amp < 0) {
            out += QStringView(text).sliced(i);
            break;
        }
        out += QStringView(text).sliced(i, amp - i);
        // A name is short: the ";" is looked for only that far, so a text of
        // ampersands costs no more than its length.
        const QStringView after = QStringView(text).sliced(amp + 1).left(kMaxReferenceName + 1);
        const qsizetype semi = after.indexOf(u';');
        const QString decoded = semi > 0 ? referencedCharacter(after.left(semi)) : QString();
        if (decoded.isEmpty()) {
            out += u'&';
            i = amp + 1;
        } else {
            out += decoded;
            i = amp + 1 + semi + 1;
        }
    }
    return out;
}

// ---- WebVTT ----------------------------------------------------------------------

// A block that starts with the keyword, alone or followed by white space.
bool startsBlock(const QString &line, QLatin1StringView keyword)
{
    return line.startsWith(keyword)
           && (line.size() == keyword.size() || line[keyword.size()] == u' ' || line[keyword.size()] == u'\t');
}

// One cue's text: the runs of each voice, tags removed, references decoded.
void addVttCue(const QString &cue, Paragraphs &paragraphs)
{
    QString speaker;
    QString run;
    auto endRun = [&] {
        paragraphs.add(speaker, decodeReferences(run));
        run.clear();
    };
    qsizetype i = 0;
    while (i < cue.size()) {
        const QChar c = cue[i];
        if (c != u'<') {
            run += c == u'\n' ? QChar(u' ') : c;
            ++i;
            continue;
        }
        qsizetype close = cue.indexOf(u'>', i + 1);
        if (close < 0)
            close = cue.size();  // a tag that never closes takes the rest of the cue
        const QStringView tag = QStringView(cue).sliced(i + 1, close - i - 1);
        if (tag.startsWith(u'v') && (tag.size() == 1 || tag[1] == u'.' || tag[1].isSpace())) {
            endRun();
            const qsizetype space = [&] {
                for (qsizetype k = 1; k < tag.size(); ++k)
                    if (tag[k].isSpace())
                        return k;
                return tag.size();
            }();
            speaker = decodeReferences(tag.sliced(space).toString()).simplified();
        } else if (tag == u"/v") {
            endRun();
            speaker.clear();
        }
        i = close + 1;
    }
    endRun();
}

// ---- SubRip ----------------------------------------------------------------------

const QRegularExpression &srtTiming()
{
    static const QRegularExpression timing(QStringLiteral(
        R"(^\s*(?:\d+:)?\d{1,2}:\d{1,2}(?:[,.]\d{1,3})?\s*-->\s*(?:\d+:)?\d{1,2}:\d{1,2}(?:[,.]\d{1,3})?)"));
    return timing;
}

bool isCueNumber(const QString &line)
{
    const QString t = line.trimmed();
    if (t.isEmpty())
        return false;
    for (QChar c : t)
        if (!c.isDigit())
            return false;
    return true;
}

// SubRip's formatting: <i>, <b>, <u>, <font ...> and the {\an8} style of
// positions.
QString withoutSrtTags(QString text)
{
    static const QRegularExpression tags(QStringLiteral(R"(</?[A-Za-z][^<>]*>|\{\\[^{}]*\})"));
    return text.remove(tags);
}

// ---- HTML ------------------------------------------------------------------------

bool isNamed(const xmlNode *node, std::initializer_list<const char *> names)
{
    const char *name = reinterpret_cast<const char *>(node->name);
    for (const char *n : names)
        if (qstricmp(name, n) == 0)
            return true;
    return false;
}

bool isSkipped(const xmlNode *node)
{
    return isNamed(node, {"script", "style", "head", "noscript", "template", "title", "iframe", "object", "svg"});
}

bool isBlock(const xmlNode *node)
{
    return isNamed(node, {"p", "div", "li", "ul", "ol", "dl", "dt", "dd", "h1", "h2", "h3", "h4", "h5", "h6",
                          "blockquote", "pre", "section", "article", "header", "footer", "main", "aside", "nav",
                          "table", "tr", "td", "th", "figure", "figcaption", "address", "hr", "form", "fieldset",
                          "body", "html"});
}

// The parser compares each attribute of a start tag with every one before it,
// so its time grows with the square of their count. Real pages have a few
// attributes a tag; a page on which the parser would spend more than this many
// comparisons is no transcript. This pass over the text finds one in time
// proportional to the text. A tag runs from a "<" before a letter to the next
// ">" outside quotes; its attributes are counted as its words outside quotes.
constexpr qint64 kMaxAttributeComparisons = 10000000;

bool tagsWithinBounds(QStringView text)
{
    const qsizetype n = text.size();
    qint64 comparisons = 0;
    qsizetype i = 0;
    while ((i = text.indexOf(u'<', i)) >= 0) {
        ++i;
        if (i >= n || !(text[i].isLetter() || text[i] == u'/'))
            continue;
        qint64 words = 0;
        bool space = false;
        for (; i < n && text[i] != u'>'; ++i) {
            const QChar c = text[i];
            if (c == u'"' || c == u'\'') {
                const qsizetype close = text.indexOf(c, i + 1);
                i = close < 0 ? n : close;
                space = false;
                continue;
            }
            const bool isSpace = c.isSpace();
            if (space && !isSpace) {
                comparisons += words++;
                if (comparisons > kMaxAttributeComparisons)
                    return false;
            }
            space = isSpace;
        }
    }
    return true;
}

// The text of an HTML tree: white space collapsed as a browser does, blocks
// made paragraphs.
class HtmlText
{
public:
    void text(const QString &s)
    {
        for (QChar c : s) {
            if (c.isSpace() && c != QChar(0x00A0)) {
                m_space = true;
                continue;
            }
            if (m_space && !m_line.isEmpty())
                m_line += u' ';
            m_space = false;
            m_line += c;
        }
    }
    void lineBreak()
    {
        if (!m_line.isEmpty())
            m_lines.append(m_line);
        m_line.clear();
        m_space = false;
    }
    void paragraph()
    {
        lineBreak();
        if (!m_lines.isEmpty())
            m_paragraphs.append(m_lines.join(u'\n'));
        m_lines.clear();
    }
    QString take()
    {
        paragraph();
        return m_paragraphs.join(QStringLiteral("\n\n"));
    }

private:
    QStringList m_paragraphs;
    QStringList m_lines;
    QString m_line;
    bool m_space = false;
};

// ---- Choice ----------------------------------------------------------------------

QString languageKey(const QString &tag)
{
    return tag.trimmed().toLower().replace(u'_', u'-');
}

QString primaryLanguage(const QString &key)
{
    return key.section(u'-', 0, 0);
}

// 0: the feed's language exactly, 1: its primary language, 2 and 3 the same
// for the system's language, 4: another.
int languageRank(const QString &linkLanguage, const QString &feedLanguage, const QString &systemLanguage)
{
    const QString feed = languageKey(feedLanguage);
    const QString own = linkLanguage.trimmed().isEmpty() ? feed : languageKey(linkLanguage);
    if (own.isEmpty())
        return 4;
    int rank = 0;
    for (const QString &wanted : {feed, languageKey(systemLanguage)}) {
        if (!wanted.isEmpty()) {
            if (own == wanted)
                return rank;
            if (primaryLanguage(own) == primaryLanguage(wanted))
                return rank + 1;
        }
        rank += 2;
    }
    return 4;
}

} // namespace

TranscriptFormat transcriptFormatOf(const TranscriptLink &link)
{
    const QString type = link.type.section(u';', 0, 0).trimmed().toLower();
    if (type == u"application/json")
        return TranscriptFormat::Json;
    if (type == u"text/vtt")
        return TranscriptFormat::WebVtt;
    if (type == u"application/x-subrip" || type == u"application/srt" || type == u"text/srt"
        || type == u"application/x-srt" || type == u"text/x-srt")
        return TranscriptFormat::Srt;
    if (type == u"text/html")
        return TranscriptFormat::Html;
    if (type == u"text/plain")
        return TranscriptFormat::Plain;
    const QString path = QUrl(link.url.trimmed()).path().toLower();
    if (path.endsWith(u".json"))
        return TranscriptFormat::Json;
    if (path.endsWith(u".vtt"))
        return TranscriptFormat::WebVtt;
    if (path.endsWith(u".srt"))
        return TranscriptFormat::Srt;
    if (path.endsWith(u".html") || path.endsWith(u".htm"))
        return TranscriptFormat::Html;
    if (path.endsWith(u".txt"))
        return TranscriptFormat::Plain;
    return TranscriptFormat::Unknown;
}

int chooseTranscript(const TranscriptLinks &links, const QString &feedLanguage, const QString &systemLanguage)
{
    int best = -1;
    int bestFormat = 0;
    int bestLanguage = 0;
    for (int i = 0; i < links.size(); ++i) {
        const int format = int(transcriptFormatOf(links[i]));
        const int language = languageRank(links[i].language, feedLanguage, systemLanguage);
        if (best < 0 || format < bestFormat || (format == bestFormat && language < bestLanguage)) {
            best = i;
            bestFormat = format;
            bestLanguage = language;
        }
    }
    return best;
}

QString webVttToText(const QString &text)
{
    const QStringList lines = linesOf(text);
    Paragraphs paragraphs;
    qsizetype i = 0;
    // The header: the "WEBVTT" line and whatever follows it up to an empty line.
    if (!lines.isEmpty() && lines[0].startsWith(QLatin1String("WEBVTT"))) {
        while (i < lines.size() && !isBlank(lines[i]))
            ++i;
    }
    while (i < lines.size()) {
        while (i < lines.size() && isBlank(lines[i]))
            ++i;
        const qsizetype start = i;
        while (i < lines.size() && !isBlank(lines[i]))
            ++i;
        if (start == i)
            break;
        const QString &first = lines[start];
        if (startsBlock(first, QLatin1String("NOTE")) || startsBlock(first, QLatin1String("STYLE"))
            || startsBlock(first, QLatin1String("REGION")))
            continue;
        // The timing line, after an identifier or none; whatever looks like a
        // timing but has no arrow is an identifier.
        qsizetype timing = start;
        while (timing < i && !lines[timing].contains(QLatin1String("-->")))
            ++timing;
        if (timing == i)
            continue;  // no cue
        addVttCue(lines.mid(timing + 1, i - timing - 1).join(u'\n'), paragraphs);
    }
    return paragraphs.take();
}

QString srtToText(const QString &text)
{
    const QStringList lines = linesOf(text);
    QList<QStringList> cues;
    QStringList pending;  // lines after an empty line: a cue number, or more of the cue before
    bool inCue = false;
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("-->")) && srtTiming().match(line).hasMatch()) {
            QStringList &before = inCue ? cues.last() : pending;
            if (!before.isEmpty() && isCueNumber(before.last()))
                before.removeLast();
            if (!inCue && !cues.isEmpty())
                cues.last() += pending;
            pending.clear();
            cues.append(QStringList());
            inCue = true;
        } else if (isBlank(line)) {
            inCue = false;
        } else if (inCue) {
            cues.last().append(line);
        } else {
            pending.append(line);
        }
    }
    if (!cues.isEmpty())
        cues.last() += pending;
    Paragraphs paragraphs;
    for (const QStringList &cue : cues)
        paragraphs.add(QString(), withoutSrtTags(cue.join(u' ')));
    return paragraphs.take();
}

QString jsonTranscriptToText(const QString &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    Paragraphs paragraphs;
    const QJsonArray segments = document.object().value(QLatin1String("segments")).toArray();
    for (const QJsonValue &value : segments) {
        const QJsonObject segment = value.toObject();
        paragraphs.add(segment.value(QLatin1String("speaker")).toString().simplified(),
                       segment.value(QLatin1String("body")).toString());
    }
    return paragraphs.take();
}

QString htmlToText(const QString &text)
{
    if (!tagsWithinBounds(text))
        return QString();
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty())
        return QString();
    // The text is decoded already: the page's own charset plays no part.
    const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> document(
        htmlReadMemory(utf8.constData(), int(utf8.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET),
        xmlFreeDoc);
    if (!document)
        return QString();
    HtmlText out;
    // Walked without recursion: a page may nest deeply.
    const xmlNode *root = xmlDocGetRootElement(document.get());
    const xmlNode *node = root;
    while (node) {
        bool descend = false;
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            out.text(QString::fromUtf8(reinterpret_cast<const char *>(node->content)));
        } else if (node->type == XML_ELEMENT_NODE && !isSkipped(node)) {
            if (isNamed(node, {"br"}))
                out.lineBreak();
            else if (isBlock(node))
                out.paragraph();
            descend = node->children != nullptr;
        }
        if (descend) {
            node = node->children;
            continue;
        }
        // On to the next node, closing the blocks left on the way up.
        while (node && node != root && !node->next) {
            node = node->parent;
            if (node && node->type == XML_ELEMENT_NODE && isBlock(node))
                out.paragraph();
        }
        node = node && node != root ? node->next : nullptr;
    }
    return out.take();
}

QString plainTranscriptText(const QString &text)
{
    QString lines = text.startsWith(QChar(0xFEFF)) ? text.sliced(1) : text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    return trimControls(lines);
}

QString transcriptToText(TranscriptFormat format, const QString &text)
{
    if (format == TranscriptFormat::Unknown) {
        const QString start = text.left(4096).trimmed().remove(QChar(0xFEFF));
        if (start.startsWith(QLatin1String("WEBVTT")))
            format = TranscriptFormat::WebVtt;
        else if (start.startsWith(u'{'))
            format = TranscriptFormat::Json;
        else if (start.startsWith(u'<'))
            format = TranscriptFormat::Html;
        else if (srtTiming().match(start, 0, QRegularExpression::NormalMatch,
                                   QRegularExpression::AnchorAtOffsetMatchOption).hasMatch()
                 || start.contains(QRegularExpression(QStringLiteral(R"((?m)^\d+\s*\n\s*\d.*-->)"))))
            format = TranscriptFormat::Srt;
        else
            format = TranscriptFormat::Plain;
    }
    switch (format) {
    case TranscriptFormat::Json: return jsonTranscriptToText(text);
    case TranscriptFormat::WebVtt: return webVttToText(text);
    case TranscriptFormat::Srt: return srtToText(text);
    case TranscriptFormat::Html: return htmlToText(text);
    case TranscriptFormat::Plain:
    case TranscriptFormat::Unknown: break;
    }
    return plainTranscriptText(text);
}

QString fetchPublisherTranscript(const TranscriptLink &link, qint64 maxBytes, int totalTimeoutMs)
{
    FetchLimits limits;
    limits.maxBytes = maxBytes;
    limits.tooLargeMessage = QStringLiteral("The transcript is too large");
    limits.totalTimeoutMs = totalTimeoutMs;
    limits.totalTimeoutMessage = QStringLiteral("The transcript took too long to arrive");
    const QString text = transcriptToText(transcriptFormatOf(link), FetchUrl(trimControls(link.url), limits));
    if (text.isEmpty())
        throw AppError(QStringLiteral("The transcript holds no text"));
    return text;
}
