#include "base/settings.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFile>
#include <QStringDecoder>

namespace {

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void IniDocument::load()
{
    m_sections.clear();
    QFile file(m_fileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(m_fileName, file.errorString()));
    if (!parse(file.readAll()))
        throw AppError(QStringLiteral("File \"%1\" is not valid UTF-8.").arg(m_fileName));
}

bool IniDocument::parse(const QByteArray &bytes)
{
    m_sections.clear();
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    QStringDecoder strict(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = strict.decode(view);
    if (strict.hasError())
        return false;

    Section *current = nullptr;
    for (const QString &line : splitLines(text)) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            const QString name = trimmed.mid(1, trimmed.size() - 2).trimmed();
            current = findSection(name);
            if (!current) {
                m_sections.append(Section{name, {}});
                current = &m_sections.last();
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!current || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1);
        bool found = false;
        for (Entry &entry : current->entries) {
            if (sameName(entry.key, key)) {
                entry.value = value;
                found = true;
                break;
            }
        }
        if (!found)
            current->entries.append(Entry{key, value});
    }
    return true;
}

IniDocument::Section *IniDocument::findSection(const QString &name)
{
    for (Section &section : m_sections)
        if (sameName(section.name, name))
            return &section;
    return nullptr;
}

const IniDocument::Section *IniDocument::findSection(const QString &name) const
{
    return const_cast<IniDocument *>(this)->findSection(name);
}

QString IniDocument::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    if (const Section *s = findSection(section))
        for (const Entry &entry : s->entries)
            if (sameName(entry.key, key))
                return entry.value;
    return defaultValue;
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value)
{
    Section *s = findSection(section);
    if (!s) {
        m_sections.append(Section{section, {}});
        s = &m_sections.last();
    }
    for (Entry &entry : s->entries) {
        if (sameName(entry.key, key)) {
            entry.value = value;
            return;
        }
    }
    s->entries.append(Entry{key, value});
}

QByteArray IniDocument::serialize() const
{
    QString text;
    for (const Section &section : m_sections) {
        text += QLatin1Char('[') + section.name + QLatin1String("]\r\n");
        for (const Entry &entry : section.entries)
            text += entry.key + QLatin1Char('=') + entry.value + QLatin1String("\r\n");
        text += QLatin1String("\r\n");
    }
    return utf8WithBom(text);
}

void IniDocument::save() const
{
    writeFileAtomically(m_fileName, serialize(), /*ownerOnly=*/true);
}
