#include "base/versioninfo.h"

#include "base/errors.h"

#include <QFile>

#include <elf.h>

#include <cstring>

namespace {

constexpr char kSectionName[] = ".morvane_version";

[[noreturn]] void fail(const QString &fileName, const QString &why)
{
    throw AppError(QStringLiteral("Cannot read the version information of \"%1\": %2").arg(fileName, why));
}

QByteArray readAt(QFile &file, quint64 offset, quint64 size, const QString &fileName)
{
    if (size > quint64(64) * 1024 * 1024 || offset > quint64(file.size()) || size > quint64(file.size()) - offset)
        fail(fileName, QStringLiteral("the file is damaged"));
    if (!file.seek(qint64(offset)))
        fail(fileName, file.errorString());
    QByteArray bytes = file.read(qint64(size));
    if (quint64(bytes.size()) != size)
        fail(fileName, QStringLiteral("the file is truncated"));
    return bytes;
}

QByteArray findSection(QFile &file, const QString &fileName)
{
    const QByteArray head = file.read(sizeof(Elf64_Ehdr));
    if (head.size() < qsizetype(sizeof(Elf64_Ehdr)) || memcmp(head.constData(), ELFMAG, SELFMAG) != 0
        || head[EI_CLASS] != ELFCLASS64 || head[EI_DATA] != ELFDATA2LSB)
        fail(fileName, QStringLiteral("not a 64-bit executable"));
    Elf64_Ehdr ehdr;
    memcpy(&ehdr, head.constData(), sizeof ehdr);
    if (ehdr.e_shentsize != sizeof(Elf64_Shdr) || ehdr.e_shnum == 0 || ehdr.e_shstrndx >= ehdr.e_shnum)
        fail(fileName, QStringLiteral("the file has no section table"));

    const QByteArray table = readAt(file, ehdr.e_shoff, quint64(ehdr.e_shnum) * sizeof(Elf64_Shdr), fileName);
    auto section = [&](int i) {
        Elf64_Shdr shdr;
        memcpy(&shdr, table.constData() + qsizetype(i) * qsizetype(sizeof shdr), sizeof shdr);
        return shdr;
    };
    const Elf64_Shdr names = section(ehdr.e_shstrndx);
    const QByteArray nameTable = readAt(file, names.sh_offset, names.sh_size, fileName);
    for (int i = 0; i < ehdr.e_shnum; ++i) {
        const Elf64_Shdr shdr = section(i);
        if (shdr.sh_name >= quint64(nameTable.size()) || shdr.sh_type == SHT_NOBITS)
            continue;
        if (qstrcmp(nameTable.constData() + shdr.sh_name, kSectionName) == 0)
            return readAt(file, shdr.sh_offset, shdr.sh_size, fileName);
    }
    fail(fileName, QStringLiteral("the file carries no version record"));
}

quint32 le32(const QByteArray &bytes, int offset)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData() + offset);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

} // namespace

VersionInfo ReadVersionInfo(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        fail(fileName, file.errorString());
    const QByteArray record = findSection(file, fileName);
    if (record.size() < 20 || !record.startsWith("MVER"))
        fail(fileName, QStringLiteral("the version record is damaged"));

    VersionInfo info;
    info.fileVersionMS = le32(record, 4);
    info.fileVersionLS = le32(record, 8);
    info.productVersionMS = le32(record, 12);
    info.productVersionLS = le32(record, 16);

    struct Field {
        const char *name;
        QString TEXEVersionData::*member;
    };
    static const Field fields[] = {
        {"CompanyName", &TEXEVersionData::CompanyName},       {"FileDescription", &TEXEVersionData::FileDescription},
        {"FileVersion", &TEXEVersionData::FileVersion},       {"InternalName", &TEXEVersionData::InternalName},
        {"LegalCopyright", &TEXEVersionData::LegalCopyright}, {"LegalTrademarks", &TEXEVersionData::LegalTrademarks},
        {"OriginalFileName", &TEXEVersionData::OriginalFileName}, {"ProductName", &TEXEVersionData::ProductName},
        {"ProductVersion", &TEXEVersionData::ProductVersion}, {"Comments", &TEXEVersionData::Comments},
        {"PrivateBuild", &TEXEVersionData::PrivateBuild},     {"SpecialBuild", &TEXEVersionData::SpecialBuild},
    };

    // Name NUL value NUL pairs, ended by an empty name or the end of the section.
    qsizetype pos = 20;
    auto next = [&](QByteArray *out) {
        const qsizetype end = record.indexOf('\0', pos);
        if (end < 0)
            return false;
        *out = record.mid(pos, end - pos);
        pos = end + 1;
        return true;
    };
    QByteArray name, value;
    while (next(&name) && !name.isEmpty() && next(&value)) {
        for (const Field &field : fields)
            if (name == field.name)
                info.strings.*field.member = QString::fromUtf8(value);
    }
    return info;
}

AppIdentity AppIdentity::fromVersionInfo(const VersionInfo &info)
{
    AppIdentity id;
    id.companyName = info.strings.CompanyName;
    id.productName = info.strings.ProductName;
    id.title = id.companyName + QLatin1String(" - ") + id.productName;
    id.version = QStringLiteral("%1.%2").arg(info.fileVersionMS >> 16).arg(info.fileVersionMS & 0xffff);
    return id;
}
