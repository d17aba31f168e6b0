#include "core/apppaths.h"

#include <QDir>

QString AppPaths::dataFolder()
{
    return QDir::homePath() + QDir::separator() + QStringLiteral("VARUZ");
}

QString AppPaths::settingsFile()
{
    return dataFolder() + QStringLiteral("/varuz.xml");
}

QString AppPaths::cacheFilePrefix()
{
    return dataFolder() + QStringLiteral("/mcache");
}

QString AppPaths::dataFile(const QString &aName)
{
    return dataFolder() + QDir::separator() + aName;
}
