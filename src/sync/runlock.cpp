#include "sync/runlock.h"

#include "core/apppaths.h"
#include "core/logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

RunLock::RunLock(const QString &aPath)
    : mPath(aPath.isEmpty() ? AppPaths::dataFile(QStringLiteral("run.lock")) : aPath)
{}

RunLock::~RunLock()
{
    unlock();
}

bool RunLock::tryLock()
{
    if (mFd >= 0)
        return true;
    QDir().mkpath(QFileInfo(mPath).absolutePath());
    const int fd = ::open(QFile::encodeName(mPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        Logger::instance().value("Cannot open run lock", mPath);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::write(fd, pid.constData(), size_t(pid.size())) != pid.size())
        Logger::instance().text("Cannot write the run lock's holder");
    mFd = fd;
    return true;
}

void RunLock::unlock()
{
    if (mFd < 0)
        return;
    // Closing drops the lock; the file stays so that nobody races its removal.
    ::close(mFd);
    mFd = -1;
}

qint64 RunLock::holder() const
{
    QFile file(mPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool ok = false;
    const qint64 pid = file.readLine(32).trimmed().toLongLong(&ok);
    return ok ? pid : 0;
}
