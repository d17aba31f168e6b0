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
int createTemporary(const QByteArray &aPath)
{
    constexpr int Flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    const int fd = ::open(aPath.constData(), Flags, 0666);
    if (fd >= 0 || errno != EEXIST)
        return fd;
    ::unlink(aPath.constData());
    return ::open(aPath.constData(), Flags, 0666);
}

SafeFileCopy::Result copyBetween(int aFrom, int aTo)
{
    bool unsupported = false;
    if (copyInKernel(aFrom, aTo, unsupported))
        return SafeFileCopy::Result::Done;
    if (!unsupported)
        return failure();
    if (::lseek(aFrom, 0, SEEK_SET) == 0 && ::lseek(aTo, 0, SEEK_SET) == 0 &&
        copyBuffered(aFrom, aTo))
        return SafeFileCopy::Result::Done;
    return failure();
}

int openSource(const QString &aSource)
{
    const int fd = ::open(QFile::encodeName(aSource).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Logger::instance().value("Cannot open copy source", aSource);
    return fd;
}
} // namespace

SafeFileCopy::Result SafeFileCopy::copyData(const QString &aSource, QFile &aTarget)
{
    const int from = openSource(aSource);
    if (from < 0)
        return Result::Failed;
    const Result result = copyBetween(from, aTarget.handle());
    ::close(from);
    return result;
}

QString SafeFileCopy::temporaryName(const QString &aDestination)
{
    return temporaryBeside(aDestination);
}

SafeFileCopy::Result SafeFileCopy::stageAs(const QString &aSource, const QString &aTemporary)
{
    // Plain descriptors: with thousands of small tracks, each call saved counts.
    const QByteArray temporary = QFile::encodeName(aTemporary);
    const int to = createTemporary(temporary);
    if (to < 0) {
        const Result result = failure();
        Logger::instance().value("Cannot create temporary copy", aTemporary);
        return result;
    }
    const int from = openSource(aSource);
    Result result = from < 0 ? Result::Failed : copyBetween(from, to);
    if (from >= 0)
        ::close(from);
    if (::close(to) != 0 && result == Result::Done)
        result = failure();
    if (result != Result::Done)
        ::unlink(temporary.constData());
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

void SafeFileCopy::renameAll(const QList<std::pair<QString, QString>> &aPairs,
                             const std::function<void(qsizetype, bool)> &aDone)
{
    int folderFd = -1;
    QStringView folder;
    for (qsizetype i = 0; i < aPairs.size(); ++i) {
        const QString &from = aPairs.at(i).first;
        const QString &to = aPairs.at(i).second;
        const qsizetype slash = to.lastIndexOf(QLatin1Char('/'));
        const QStringView toFolder = QStringView(to).left(slash);
        if (slash <= 0 || from.lastIndexOf(QLatin1Char('/')) != slash ||
            QStringView(from).left(slash) != toFolder) {
            aDone(i, rename(from, to));
            continue;
        }
        if (toFolder != folder) {
            if (folderFd >= 0)
                ::close(folderFd);
            folder = toFolder;
            folderFd = ::open(QFile::encodeName(folder.toString()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (folderFd < 0) {
            aDone(i, rename(from, to));
            continue;
        }
        const QByteArray fromName = QFile::encodeName(from.mid(slash + 1));
        if (::renameat(folderFd, fromName.constData(), folderFd,
                       QFile::encodeName(to.mid(slash + 1)).constData()) == 0) {
            aDone(i, true);
            continue;
        }
        Logger::instance().value("Cannot rename staged copy to", to);
        ::unlinkat(folderFd, fromName.constData(), 0);
        aDone(i, false);
    }
    if (folderFd >= 0)
        ::close(folderFd);
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

void SafeFileCopy::moveRemainingFiles(const QString &aStaging, const QString &aFolder)
{
    QDirIterator it(aStaging, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = aFolder + QLatin1Char('/') + it.fileName();
        if (!QFileInfo::exists(target))
            rename(path, target);
    }
    QDir().rmdir(aStaging);
}

bool SafeFileCopy::isTemporaryName(const QString &aFileName)
{
    return aFileName.startsWith(TemporaryPrefix) && aFileName.endsWith(TemporarySuffix) &&
           aFileName.size() > TemporaryPrefix.size() + TemporarySuffix.size();
}

int SafeFileCopy::removeLeftovers(const QString &aFolder, const QSet<QString> &aKeep)
{
    // Matched by hand: a name filter would compile a pattern for every folder.
    QDirIterator it(aFolder,
                    QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    int removed = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isTemporaryName(it.fileName()) || aKeep.contains(path))
            continue;
        // A folder of that name is one a new album was being filled in.
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively()
                                              : QFile::remove(path))
            ++removed;
    }
    if (removed > 0)
        Logger::instance().value("Unfinished copies removed", removed);
    return removed;
}
