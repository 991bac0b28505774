#include "services/servicesettings.h"

#include "base/errors.h"

#include <QSettings>
#include <QVariant>

namespace {

const QString kGroup = QStringLiteral("Settings");

QString key(const QString &name)
{
    return kGroup + QLatin1Char('/') + name;
}

} // namespace

QString ServiceSettings::nativeFileName()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZANTERO"),
                     QStringLiteral("Morvane"))
        .fileName();
}

void ServiceSettings::open() const
{
    if (m_fileName.isEmpty())
        throw AppError(QStringLiteral("The service store has no file"));
    const QSettings settings(m_fileName, QSettings::NativeFormat);
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The service store %1 cannot be read").arg(m_fileName));
}

QString ServiceSettings::readText(const QString &name, const QString &defaultValue) const
{
    const QSettings settings(m_fileName, QSettings::NativeFormat);
    const QVariant value = settings.value(key(name));
    if (value.typeId() != QMetaType::QString)
        return defaultValue;
    return value.toString();
}

int ServiceSettings::readInteger(const QString &name, int defaultValue) const
{
    bool ok = false;
    const int value = readText(name).toInt(&ok);
    return ok ? value : defaultValue;
}

void ServiceSettings::writeText(const QString &name, const QString &value) const
{
    QSettings settings(m_fileName, QSettings::NativeFormat);
    settings.setValue(key(name), value);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw AppError(QStringLiteral("The service store %1 cannot be written").arg(m_fileName));
}

void ServiceSettings::writeInteger(const QString &name, int value) const
{
    writeText(name, QString::number(value));
}
