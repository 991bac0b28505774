#pragma once

#include <QList>
#include <QString>

// The settings file: an in-memory INI document bound to one file.
//
// Written as UTF-8 with a byte-order mark, CR LF after every line (the last one
// too): for each section a "[name]" line, one "key=value" line per key in the
// order the keys were first stored, then an empty line. When read, lines whose
// first non-blank character is ";" are comments; section and key names compare
// without regard to letter case. Each save replaces the file atomically and
// keeps it readable by its owner only, since it holds the user's API key.
class IniDocument
{
public:
    IniDocument() = default;
    explicit IniDocument(QString fileName) : m_fileName(std::move(fileName)) {}

    // Reads the bound file; an absent file gives an empty document. Throws
    // AppError when the file cannot be read or is not valid UTF-8.
    void load();
    // Parses bytes as the file's content; false when they are not valid UTF-8.
    bool parse(const QByteArray &bytes);

    QString value(const QString &section, const QString &key, const QString &defaultValue = QString()) const;
    void setValue(const QString &section, const QString &key, const QString &value);

    // The bytes save() writes.
    QByteArray serialize() const;
    // Writes the whole document to its file; throws AppError on failure.
    void save() const;

    const QString &fileName() const { return m_fileName; }

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };
    Section *findSection(const QString &name);
    const Section *findSection(const QString &name) const;

    QString m_fileName;
    QList<Section> m_sections;
};
