#pragma once

#include <QString>
#include <QtGlobal>

// The version record an executable carries, field by field.
struct TEXEVersionData {
    QString CompanyName;
    QString FileDescription;
    QString FileVersion;
    QString InternalName;
    QString LegalCopyright;
    QString LegalTrademarks;
    QString OriginalFileName;
    QString ProductName;
    QString ProductVersion;
    QString Comments;
    QString PrivateBuild;
    QString SpecialBuild;
};

struct VersionInfo {
    TEXEVersionData strings;
    // The numeric versions: major << 16 | minor, and release << 16 | build.
    quint32 fileVersionMS = 0;
    quint32 fileVersionLS = 0;
    quint32 productVersionMS = 0;
    quint32 productVersionLS = 0;
};

// Reads the version record from an executable file built with one (the record
// is the ELF section ".morvane_version"). Throws AppError when the file cannot
// be read or carries no record.
VersionInfo ReadVersionInfo(const QString &fileName);

// The program's identity, fixed at start-up from its version record.
struct AppIdentity {
    QString companyName;
    QString productName;
    QString title;   // company name + " - " + product name
    QString version; // "major.minor" of the numeric file version

    static AppIdentity fromVersionInfo(const VersionInfo &info);
};
