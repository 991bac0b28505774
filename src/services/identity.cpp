#include "services/identity.h"

#include "base/errors.h"

#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

// The program's application id for the app-specific machine id.
// c3f2600f-ece6-4c92-93d0-3daebad207ab
constexpr unsigned char kApplicationId[16] = {0xc3, 0xf2, 0x60, 0x0f, 0xec, 0xe6, 0x4c, 0x92,
                                              0x93, 0xd0, 0x3d, 0xae, 0xba, 0xd2, 0x07, 0xab};

bool isHexId(const QByteArray &text)
{
    if (text.size() != 32)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool is64BitArchitecture(const QString &architecture)
{
    return architecture.contains(QLatin1String("64")) || architecture == QLatin1String("s390x");
}

} // namespace

QString appSpecificMachineId(const QByteArray &machineId)
{
    QByteArray id = QMessageAuthenticationCode::hash(
                        QByteArray(reinterpret_cast<const char *>(kApplicationId), sizeof kApplicationId),
                        machineId, QCryptographicHash::Sha256)
                        .left(16);
    id[6] = char((quint8(id[6]) & 0x0F) | 0x40);
    id[8] = char((quint8(id[8]) & 0x3F) | 0x80);
    const QByteArray hex = id.toHex();
    return QString::fromLatin1(hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4)
                               + '-' + hex.mid(20));
}

QString ReadMachineGuid(const QString &machineIdFile)
{
    QFile file(machineIdFile);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("%1 cannot be read: %2").arg(machineIdFile, file.errorString()));
    const QByteArray text = file.read(4096).trimmed();
    if (text.isEmpty() || text == "uninitialized")
        return QString();
    if (!isHexId(text))
        throw AppError(QStringLiteral("%1 holds no machine id").arg(machineIdFile));
    return appSpecificMachineId(QByteArray::fromHex(text));
}

QString formatOsDescription(const QString &prettyName, const QString &kernelRelease, const QString &architecture)
{
    // The release begins with its numbers: "6.1.0-18-amd64", "5.10.0", "6.8".
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = numbers.match(kernelRelease);
    const auto part = [&m](int n) { return m.hasMatch() ? m.captured(n).toInt() : 0; };
    return QStringLiteral("%1 (Version %2.%3, Build %4, %5)")
        .arg(prettyName)
        .arg(part(1))
        .arg(part(2))
        .arg(part(3))
        .arg(is64BitArchitecture(architecture) ? QStringLiteral("64-bit Edition") : QStringLiteral("32-bit Edition"));
}

QString OsDescription()
{
    return formatOsDescription(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(),
                               QSysInfo::currentCpuArchitecture());
}

QString UserLocaleName(const QLocale &locale)
{
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QStringLiteral("xx");
    const QString name = locale.name(); // "en_US"
    const qsizetype underscore = name.indexOf(QLatin1Char('_'));
    if (underscore <= 0 || underscore == name.size() - 1)
        return QStringLiteral("xx");
    return name.left(underscore) + QLatin1Char('-') + name.mid(underscore + 1);
}
