#include "devices/safefilecopy.h"

#include "core/logger.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
constexpr qint64 BlockSize = 8 << 20;

std::atomic<int> gSerial{0};

SafeFileCopy::Result failure()
{
    return errno == ENOSPC || errno == EDQUOT ? SafeFileCopy::Result::NoSpace
                                              : SafeFileCopy::Result::Failed;
}

constexpr qint64 EarlyWritebackBytes = 1 << 20;

// Starts writing each large block to the medium while the next is copied, so
// the flush before the rename finds little left to do. Small files are left to
// the flush: written one by one they would make the file system allocate and
// journal each of them on its own.
void startWriteback(int aFd, qint64 aOffset, qint64 aLength)
{
    if (aLength >= EarlyWritebackBytes)
        ::sync_file_range(aFd, aOffset, aLength, SYNC_FILE_RANGE_WRITE);
}

bool copyInKernel(int aFrom, int aTo, bool &aUnsupported)
{
    qint64 done = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(aFrom, nullptr, aTo, nullptr, size_t(BlockSize), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // Some file systems and kernels refuse it before anything is copied.
            aUnsupported = done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                                         errno == EOPNOTSUPP || errno == EBADF);
            return false;
        }
        if (n == 0)
            return true;
        startWriteback(aTo, done, n);
        done += n;
    }
}

bool copyBuffered(int aFrom, int aTo)
{
    const std::unique_ptr<char[]> buffer(new char[size_t(BlockSize)]);
    qint64 done = 0;
    for (;;) {
        const ssize_t n = ::read(aFrom, buffer.get(), size_t(BlockSize));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(aTo, buffer.get() + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
        startWriteback(aTo, done, n);
        done += n;
    }
}

QString temporaryBeside(const QString &aDestination)
{
    static const QString process = QString::number(::getpid()) + QLatin1Char('-');
    return QFileInfo(aDestination).path() + QLatin1Char('/') + SafeFileCopy::TemporaryPrefix +
           process + QString::number(++gSerial) + SafeFileCopy::TemporarySuffix;
}

// The name is new to this process; only a leftover of an earlier process with
// the same id can hold it, and that one goes.
bool createTemporary(QFile &aFile)
{
    if (aFile.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return true;
    QFile::remove(aFile.fileName());
    return aFile.open(QIODevice::WriteOnly | QIODevice::NewOnly);
}
} // namespace

SafeFileCopy::Result SafeFileCopy::copyData(const QString &aSource, QFile &aTarget)
{
    QFile source(aSource);
    if (!source.open(QIODevice::ReadOnly)) {
        Logger::instance().value("Cannot open copy source", aSource);
        return Result::Failed;
    }
    bool unsupported = false;
    if (copyInKernel(source.handle(), aTarget.handle(), unsupported))
        return Result::Done;
    if (!unsupported)
        return failure();
    if (::lseek(source.handle(), 0, SEEK_SET) == 0 && ::lseek(aTarget.handle(), 0, SEEK_SET) == 0 &&
        copyBuffered(source.handle(), aTarget.handle()))
        return Result::Done;
    return failure();
}

SafeFileCopy::Result SafeFileCopy::stage(const QString &aSource, const QString &aDestination,
                                         QString &aTemporary)
{
    Logger &log = Logger::instance();
    aTemporary = temporaryBeside(aDestination);
    QFile target(aTemporary);
    if (!createTemporary(target)) {
        log.value("Cannot create temporary copy", aTemporary);
        const Result result = failure();
        aTemporary.clear();
        return result;
    }
    const Result result = copyData(aSource, target);
    target.close();
    if (result != Result::Done) {
        log.value("Copy failed", aDestination);
        QFile::remove(aTemporary);
        aTemporary.clear();
    }
    return result;
}

bool SafeFileCopy::rename(const QString &aTemporary, const QString &aDestination)
{
    // QFile::rename refuses to replace; the system call replaces in one step.
    if (::rename(QFile::encodeName(aTemporary).constData(),
                 QFile::encodeName(aDestination).constData()) == 0)
        return true;
    Logger::instance().value("Cannot rename staged copy to", aDestination);
    QFile::remove(aTemporary);
    return false;
}

SafeFileCopy::Result SafeFileCopy::flushFileSystem(const QString &aPath)
{
    const int fd = ::open(QFile::encodeName(aPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure();
    const int flushed = ::syncfs(fd);
    const Result result = flushed == 0 ? Result::Done : failure();
    ::close(fd);
    return result;
}

bool SafeFileCopy::copy(const QString &aSource, const QString &aDestination, bool aReplace)
{
    Logger &log = Logger::instance();
    if (!aReplace && QFileInfo::exists(aDestination)) {
        log.value("Copy destination already exists", aDestination);
        return false;
    }
    const QString temporary = temporaryBeside(aDestination);
    QFile::remove(temporary);
    QFile target(temporary);
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        log.value("Cannot create temporary copy", temporary);
        return false;
    }
    bool ok = copyData(aSource, target) == Result::Done && ::fdatasync(target.handle()) == 0;
    target.close();
    ok = ok && target.error() == QFileDevice::NoError;
    ok = ok && (aReplace || !QFileInfo::exists(aDestination));
    if (!ok) {
        log.value("Copy failed", aDestination);
        QFile::remove(temporary);
        return false;
    }
    if (!rename(temporary, aDestination))
        return false;
    // The new name is only safe once the folder holding it is on the medium too.
    const int folder =
        ::open(QFile::encodeName(QFileInfo(aDestination).path()).constData(), O_RDONLY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool SafeFileCopy::isTemporaryName(const QString &aFileName)
{
    return aFileName.startsWith(TemporaryPrefix) && aFileName.endsWith(TemporarySuffix) &&
           aFileName.size() > TemporaryPrefix.size() + TemporarySuffix.size();
}

int SafeFileCopy::removeLeftovers(const QString &aFolder, const QSet<QString> &aKeep)
{
    // Matched by hand: a name filter would compile a pattern for every folder.
    QDirIterator it(aFolder, QDir::Files | QDir::Hidden | QDir::System);
    int removed = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        if (isTemporaryName(it.fileName()) && !aKeep.contains(path) && QFile::remove(path))
            ++removed;
    }
    if (removed > 0)
        Logger::instance().value("Unfinished copies removed", removed);
    return removed;
}
