#include "app/datafolder.h"

#include "platform/folders.h"

#include <QDir>

QString chooseDataFolder(const QString &programFolder, const AppIdentity &identity, const QString &configFolder)
{
    // A program installed by the package manager (its folder inside /usr)
    // never keeps data there, even when run as root: removing the package
    // must leave nothing behind.
    const bool systemWide = QDir::cleanPath(programFolder).startsWith(QLatin1String("/usr/"));
    if (!systemWide && IsFolderWritable(programFolder))
        return withTrailingSlash(programFolder);
    const QString product = withTrailingSlash(configFolder) + identity.companyName + QLatin1Char('/')
        + identity.productName;
    // With its parents: a new account may not even have the config folder yet.
    QDir().mkpath(product);
    return product + QLatin1Char('/');
}
