#include "testhome.h"

#include "core/logger.h"

#include <QDir>
#include <QFileInfo>

TestHome::TestHome() : mOldHome(qgetenv("HOME"))
{
    qputenv("HOME", QFile::encodeName(mDir.path()));
}

TestHome::~TestHome()
{
    // Only undo our own change: when a newer TestHome was made before this one
    // is destroyed, HOME must stay on the newer one, never go back to the real home.
    if (qgetenv("HOME") != QFile::encodeName(mDir.path()))
        return;
    Logger::instance().close();
    qputenv("HOME", mOldHome);
}

QString TestHome::enableLog()
{
    QDir().mkpath(Logger::defaultLogFolder());
    Logger::instance().openDefault();
    return Logger::defaultLogFolder() + QStringLiteral("/log.txt");
}

void TestHome::disableLog()
{
    Logger::instance().close();
}

QString TestHome::realTestData(const QString &aSubPath)
{
    const QString root = QStringLiteral(MOBRELAY_REAL_TESTDATA);
    const QString path = aSubPath.isEmpty() ? root : root + QLatin1Char('/') + aSubPath;
    return QFileInfo::exists(path) ? path : QString();
}
