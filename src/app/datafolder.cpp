#include "app/datafolder.h"

#include "platform/folders.h"

#include <QDir>

QString chooseDataFolder(const QString &programFolder, const AppIdentity &identity, const QString &configFolder)
{
    if (IsFolderWritable(programFolder))
        return withTrailingSlash(programFolder);
    const QString product = withTrailingSlash(configFolder) + identity.companyName + QLatin1Char('/')
        + identity.productName;
    // With its parents: a new account may not even have the config folder yet.
    QDir().mkpath(product);
    return product + QLatin1Char('/');
}
