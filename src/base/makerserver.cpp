#include "base/makerserver.h"

#ifndef MORVANE_MAKER_HOST_DEFAULT
#define MORVANE_MAKER_HOST_DEFAULT "www.zantero.example"
#endif

QString makerHost()
{
    const QString fromEnvironment = qEnvironmentVariable("MORVANE_MAKER_HOST").trimmed();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStringLiteral(MORVANE_MAKER_HOST_DEFAULT);
}

QString onlineHelpUrl(const QString &productName)
{
    QString page = productName.toLower();
    page.replace(QLatin1Char(' '), QLatin1Char('-'));
    return QLatin1String("http://") + makerHost() + QLatin1String("/help/") + page + QLatin1Char('/');
}

QString makerHomePage()
{
    return QLatin1String("https://") + makerHost() + QLatin1Char('/');
}
