#include "app/datafolder.h"

#include "platform/folders.h"

#include <QDir>

QString chooseDataFolder(const QString &programFolder, const AppIdentity &identity, const QString &configFolder)
{
    if (IsFolderWritable(programFolder))
        return withTrailingSlash(programFolder);
    const QString company = withTrailingSlash(configFolder) + identity.companyName;
    const QString product = company + QLatin1Char('/') + identity.productName;
    QDir().mkdir(company);
    QDir().mkdir(product);
    return product + QLatin1Char('/');
}
