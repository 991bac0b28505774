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
    if (text.isEmpty() || hasUnpairedSurrogate(text))
        return result;

    static constexpr QLatin1StringView channelName("channel");
    static constexpr QLatin1StringView itemName("item");
    static constexpr QLatin1StringView titleName("title");
    static constexpr QLatin1StringView dateName("pubDate");
    static constexpr QLatin1StringView enclosureName("enclosure");
    static constexpr QLatin1StringView urlName("url");

    QXmlStreamReader xml(text);
    bool channelFound = false;
    bool inChannel = false;
    bool inItem = false;
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
            } else if (depth == ItemDepth) {
                inItem = inChannel && xml.qualifiedName() == itemName;
                if (inItem) {
                    item = ItemState();
                    item.ns = xml.namespaceUri().toString();
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
