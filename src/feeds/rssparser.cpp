#include "feeds/rssparser.h"

#include <QXmlStreamReader>

namespace {

// The document element is depth 1, channels 2, items 3, their fields 4.
constexpr int ChannelDepth = 2;
constexpr int ItemDepth = 3;
constexpr int FieldDepth = 4;

bool isXmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isAllXmlSpace(QStringView s)
{
    for (QChar c : s)
        if (!isXmlSpace(c))
            return false;
    return true;
}

// A lone half of a surrogate pair is no XML character; the reader would turn
// it into "?" silently, so it is caught here and the document refused.
bool hasUnpairedSurrogate(QStringView s)
{
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = s[i];
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < n && s[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

// Shapes of markup on which the XML reader's work grows faster than the text:
// it compares every attribute of a start tag with every other one, looks a
// prefix up through every namespace declaration in scope, and slows with the
// depth of nesting. Real feeds carry a handful of attributes per element, a
// few dozen namespaces and a nesting depth below twenty; these bounds are far
// above that and keep the reader's time in proportion to the text.
constexpr int MaxAttributesPerTag = 256;
constexpr int MaxNamespacesInScope = 256;
constexpr int MaxDepth = 1024;

// The namespace declarations among the attribute names of a piece of a start
// tag: names "xmlns" and "xmlns:prefix".
int namespaceDeclarations(QStringView names)
{
    int count = 0;
    for (qsizetype at = names.indexOf(u"xmlns"); at >= 0; at = names.indexOf(u"xmlns", at + 5)) {
        const bool startsName = at == 0 || isXmlSpace(names[at - 1]);
        const bool endsPrefix = at + 5 == names.size() || names[at + 5] == u':' || names[at + 5] == u'='
                                || isXmlSpace(names[at + 5]);
        if (startsName && endsPrefix)
            ++count;
    }
    return count;
}

// One linear pass over the text that refuses a document beyond the bounds
// above. It reads only as much of the syntax as it needs: comments, CDATA
// sections and processing instructions are skipped whole, and so are quoted
// attribute values. What it refuses besides is refused by the reader too: a
// document type declaration, and a tag or attribute value that never ends. Other
// documents that are not well-formed may pass; the reader then refuses them,
// in time proportional to the text.
bool markupWithinBounds(QStringView text)
{
    const qsizetype n = text.size();
    QList<int> namespacesOpened; // per open element, the declarations it made
    int namespacesInScope = 0;
    qsizetype i = 0;
    // Past the next end marker ("-->", "]]>", ...): a search for its first
    // character, which is fast on long comments and CDATA sections.
    auto skipPast = [&](qsizetype from, QStringView end) {
        for (qsizetype at = text.indexOf(end.front(), from); at >= 0; at = text.indexOf(end.front(), at + 1)) {
            if (text.sliced(at).startsWith(end))
                return at + end.size();
        }
        return n;
    };
    while ((i = text.indexOf(u'<', i)) >= 0) {
        const QStringView rest = text.sliced(i);
        if (rest.startsWith(u"<!--")) {
            i = skipPast(i + 4, u"-->");
        } else if (rest.startsWith(u"<![CDATA[")) {
            i = skipPast(i + 9, u"]]>");
        } else if (rest.startsWith(u"<?")) {
            i = skipPast(i + 2, u"?>");
        } else if (rest.startsWith(u"<!")) {
            return false; // a document type declaration, never accepted
        } else if (rest.startsWith(u"</")) {
            if (!namespacesOpened.isEmpty())
                namespacesInScope -= namespacesOpened.takeLast();
            i = skipPast(i + 2, u">");
        } else {
            // A start tag: count its attributes (by their quoted values) and
            // its namespace declarations, up to the ">" outside the values.
            int attributes = 0;
            int namespaces = 0;
            bool selfClosing = false;
            qsizetype k = i; // the first piece starts with "<", so the element's name is no declaration
            while (true) {
                qsizetype stop = k;
                while (stop < n && text[stop] != u'"' && text[stop] != u'\'' && text[stop] != u'>')
                    ++stop;
                const QStringView names = text.sliced(k, stop - k);
                if (names.contains(u"xmlns"))
                    namespaces += namespaceDeclarations(names);
                if (stop == n)
                    return false; // a tag that never ends
                if (text[stop] == u'>') {
                    selfClosing = text[stop - 1] == u'/';
                    k = stop;
                    break;
                }
                if (++attributes > MaxAttributesPerTag)
                    return false;
                const qsizetype close = text.indexOf(text[stop], stop + 1);
                if (close < 0)
                    return false;
                k = close + 1;
            }
            if (namespacesInScope + namespaces > MaxNamespacesInScope)
                return false;
            if (!selfClosing) {
                if (namespacesOpened.size() >= MaxDepth)
                    return false;
                namespacesOpened.append(namespaces);
                namespacesInScope += namespaces;
            }
            i = k + 1;
        }
    }
    return true;
}

// The first child of an item named word (full or local name) in the item's
// namespace, or in any namespace when the item is in none.
bool isField(const QXmlStreamReader &xml, QLatin1StringView word, QStringView itemNamespace)
{
    if (xml.qualifiedName() != word && xml.name() != word)
        return false;
    return itemNamespace.isEmpty() || xml.namespaceUri() == itemNamespace;
}

// Collects the text content of one element: every text and CDATA node inside
// it, nested elements included, in order. Text nodes that hold white space
// only are dropped, as a parser that does not keep white space drops them;
// adjacent character tokens of the reader form one text node.
class TextCollector
{
public:
    void start(QString *target, int depth)
    {
        m_target = target;
        m_depth = depth;
    }
    bool active() const { return m_target != nullptr; }
    int depth() const { return m_depth; }
    void characters(const QXmlStreamReader &xml)
    {
        if (xml.isCDATA()) {
            endTextNode();
            m_target->append(xml.text());
        } else {
            m_pending.append(xml.text());
        }
    }
    void endTextNode()
    {
        if (!m_pending.isEmpty() && !isAllXmlSpace(m_pending))
            m_target->append(m_pending);
        m_pending.clear();
    }
    void finish()
    {
        endTextNode();
        m_target = nullptr;
        m_depth = 0;
    }

private:
    QString *m_target = nullptr;
    int m_depth = 0;
    QString m_pending;
};

// The podcast namespace, under its address and under the one it had first,
// which many feeds still declare.
bool isPodcastNamespace(QStringView uri)
{
    return uri == u"https://podcastindex.org/namespace/1.0"
           || uri == u"https://github.com/Podcastindex-org/podcast-namespace/blob/main/docs/1.0.md";
}

// A transcript element of the podcast namespace; one without an address
// gives nothing.
void readTranscript(const QXmlStreamReader &xml, TranscriptLinks *links)
{
    TranscriptLink link;
    for (const QXmlStreamAttribute &attribute : xml.attributes()) {
        if (!attribute.namespaceUri().isEmpty())
            continue;
        const QStringView name = attribute.name();
        const QString value = attribute.value().trimmed().toString();
        if (name == u"url")
            link.url = value;
        else if (name == u"type")
            link.type = value;
        else if (name == u"language")
            link.language = value;
        else if (name == u"rel")
            link.rel = value;
    }
    if (!link.url.isEmpty())
        links->append(std::move(link));
}

struct ItemState {
    QString ns;
    bool hasTitle = false;
    bool hasDate = false;
    bool hasEnclosure = false;
    bool hasUrl = false;
    EpisodeRow row;
};

} // namespace

FeedParseResult parseFeed(const QString &text)
{
    FeedParseResult result;
    if (text.isEmpty() || hasUnpairedSurrogate(text) || !markupWithinBounds(text))
        return result;

    static constexpr QLatin1StringView channelName("channel");
    static constexpr QLatin1StringView itemName("item");
    static constexpr QLatin1StringView titleName("title");
    static constexpr QLatin1StringView dateName("pubDate");
    static constexpr QLatin1StringView enclosureName("enclosure");
    static constexpr QLatin1StringView urlName("url");
    static constexpr QLatin1StringView languageName("language");
    static constexpr QLatin1StringView transcriptName("transcript");

    QXmlStreamReader xml(text);
    bool channelFound = false;
    bool inChannel = false;
    bool inItem = false;
    // The channel's language, given to its rows when it ends (the element may
    // come after the items).
    QString channelLanguage;
    bool hasChannelLanguage = false;
    qsizetype channelFirstRow = 0;
    int depth = 0;
    ItemState item;
    TextCollector collector;
    EpisodeRows rows;

    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            // Refused outright, before any entity it declares could be used.
            return result;
        case QXmlStreamReader::StartElement:
            ++depth;
            if (collector.active()) {
                collector.endTextNode();
            } else if (depth == ChannelDepth) {
                inChannel = xml.qualifiedName() == channelName;
                channelFound = channelFound || inChannel;
                if (inChannel) {
                    channelLanguage.clear();
                    hasChannelLanguage = false;
                    channelFirstRow = rows.size();
                }
            } else if (depth == ItemDepth) {
                inItem = inChannel && xml.qualifiedName() == itemName;
                if (inItem) {
                    item = ItemState();
                    item.ns = xml.namespaceUri().toString();
                } else if (inChannel && !hasChannelLanguage && xml.qualifiedName() == languageName) {
                    hasChannelLanguage = true;
                    collector.start(&channelLanguage, depth);
                }
            } else if (depth == FieldDepth && inItem) {
                if (!item.hasTitle && isField(xml, titleName, item.ns)) {
                    item.hasTitle = true;
                    collector.start(&item.row.title, depth);
                } else if (!item.hasDate && isField(xml, dateName, item.ns)) {
                    item.hasDate = true;
                    collector.start(&item.row.date, depth);
                } else if (!item.hasEnclosure && isField(xml, enclosureName, item.ns)) {
                    item.hasEnclosure = true;
                    for (const QXmlStreamAttribute &attribute : xml.attributes()) {
                        if (attribute.qualifiedName() == urlName) {
                            item.hasUrl = true;
                            item.row.url = attribute.value().toString();
                            break;
                        }
                    }
                } else if (xml.name() == transcriptName && isPodcastNamespace(xml.namespaceUri())) {
                    readTranscript(xml, &item.row.transcripts);
                }
            }
            break;
        case QXmlStreamReader::EndElement:
            if (collector.active()) {
                if (depth == collector.depth())
                    collector.finish();
                else
                    collector.endTextNode();
            } else if (depth == ItemDepth && inItem) {
                if (item.hasUrl)
                    rows.append(std::move(item.row));
                inItem = false;
            } else if (depth == ChannelDepth) {
                if (inChannel) {
                    const QString language = channelLanguage.trimmed();
                    for (qsizetype r = channelFirstRow; r < rows.size(); ++r)
                        rows[r].feedLanguage = language;
                }
                inChannel = false;
            }
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (collector.active())
                collector.characters(xml);
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::EntityReference:
            if (collector.active())
                collector.endTextNode();
            break;
        default:
            break;
        }
    }
    if (xml.hasError())
        return result;

    result.outcome = channelFound ? FeedParseResult::ChannelsFound : FeedParseResult::NoChannel;
    result.rows = std::move(rows);
    return result;
}

QString retrievalWarning(const FeedParseResult &result, const QString &url)
{
    if (!result.rows.isEmpty())
        return QString();
    if (result.outcome == FeedParseResult::ChannelsFound)
        return QStringLiteral("No Episode Found!\r\r") + url;
    return QStringLiteral("Not a Valid RSS Feed!\r\r") + url;
}
