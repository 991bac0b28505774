#include "base/makerserver.h"

#include <QUrl>

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

bool isPlaceholderHost(const QString &host)
{
    QString name = QUrl(QLatin1String("http://") + host.trimmed()).host().toLower();
    while (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name == QLatin1String("example") || name.endsWith(QLatin1String(".example"));
}

bool hasMakerServer()
{
    return !isPlaceholderHost(makerHost());
}

QString noMakerServerText()
{
    return QStringLiteral("This build has no maker server.");
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
