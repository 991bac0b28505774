#include "feeds/opml.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFile>
#include <QLocale>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

const QString kNotOpml = QStringLiteral("Not an OPML file!");

bool isBlank(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 32)
            return false;
    }
    return true;
}

// An attribute by its name, compared without case: some programs write xmlURL.
QString attribute(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    for (const QXmlStreamAttribute &a : attributes) {
        if (a.namespaceUri().isEmpty() && a.name().compare(name, Qt::CaseInsensitive) == 0)
            return a.value().toString();
    }
    return QString();
}

} // namespace

QStringList parseOpmlFeeds(const QByteArray &bytes)
{
    QXmlStreamReader xml(bytes);
    // Entities come only from the five of XML itself and character references:
    // a document type, which could declare others, is refused outright.
    xml.setNamespaceProcessing(true);
    QStringList feeds;
    QSet<QString> seen;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            throw AppError(kNotOpml);
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!rootSeen) {
            rootSeen = true;
            if (xml.name().compare(QLatin1String("opml"), Qt::CaseInsensitive) != 0)
                throw AppError(kNotOpml);
            continue;
        }
        if (xml.name().compare(QLatin1String("outline"), Qt::CaseInsensitive) != 0)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QString url = attribute(attributes, QLatin1String("xmlUrl"));
        if (isBlank(url))
            continue;
        const QString type = attribute(attributes, QLatin1String("type"));
        if (!type.isEmpty() && type.compare(QLatin1String("rss"), Qt::CaseInsensitive) != 0)
            continue;
        if (seen.contains(url))
            continue;
        seen.insert(url);
        feeds.append(url);
    }
    if (xml.hasError()) {
        // Text that never opens an element is no XML at all, let alone OPML.
        if (!rootSeen)
            throw AppError(kNotOpml);
        throw AppError(QStringLiteral("The OPML file is damaged at line %1: %2")
                           .arg(xml.lineNumber())
                           .arg(xml.errorString()));
    }
    if (!rootSeen)
        throw AppError(kNotOpml);
    return feeds;
}

QStringList readOpmlFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    if (file.size() > kMaxOpmlBytes)
        throw AppError(QStringLiteral("The file is too large for an OPML list!"));
    // Read no more than the limit allows, whatever the size said.
    const QByteArray bytes = file.read(kMaxOpmlBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()));
    if (bytes.size() > kMaxOpmlBytes)
        throw AppError(QStringLiteral("The file is too large for an OPML list!"));
    return parseOpmlFeeds(bytes);
}

QByteArray opmlFileBytes(const QStringList &feeds, const QString &title, const QDateTime &created)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("opml"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("head"));
    xml.writeTextElement(QStringLiteral("title"), title);
    xml.writeTextElement(QStringLiteral("dateCreated"),
                         QLocale::c().toString(created.toUTC(), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"))
                             + QLatin1String(" GMT"));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("body"));
    for (const QString &feed : feeds) {
        xml.writeEmptyElement(QStringLiteral("outline"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("rss"));
        xml.writeAttribute(QStringLiteral("text"), feed);
        xml.writeAttribute(QStringLiteral("xmlUrl"), feed);
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

void writeOpmlFile(const QString &fileName, const QStringList &feeds, const QString &title,
                   const QDateTime &created)
{
    writeFileAtomically(fileName, opmlFileBytes(feeds, title, created));
}
