#include "devices/safefilecopy.h"

#include "core/logger.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
constexpr qint64 BlockSize = 8 << 20;

// Starts writing each block to the medium while the next is copied, so the
// flush before the rename finds little left to do.
void startWriteback(int aFd, qint64 aOffset, qint64 aLength)
{
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
                                         errno == EOPNOTSUPP);
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

bool copyData(QFile &aFrom, QFile &aTo)
{
    bool unsupported = false;
    if (copyInKernel(aFrom.handle(), aTo.handle(), unsupported))
        return true;
    if (!unsupported)
        return false;
    return ::lseek(aFrom.handle(), 0, SEEK_SET) == 0 && ::lseek(aTo.handle(), 0, SEEK_SET) == 0 &&
           copyBuffered(aFrom.handle(), aTo.handle());
}
} // namespace

bool SafeFileCopy::copy(const QString &aSource, const QString &aDestination, bool aReplace)
{
    Logger &log = Logger::instance();
    if (!aReplace && QFileInfo::exists(aDestination)) {
        log.value("Copy destination already exists", aDestination);
        return false;
    }
    QFile source(aSource);
    if (!source.open(QIODevice::ReadOnly)) {
        log.value("Cannot open copy source", aSource);
        return false;
    }
    const QString temporary = QFileInfo(aDestination).path() + QLatin1Char('/') + TemporaryName;
    QFile::remove(temporary);
    QFile target(temporary);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        log.value("Cannot create temporary copy", temporary);
        return false;
    }
    bool ok = copyData(source, target) && target.flush() && ::fdatasync(target.handle()) == 0;
    target.close();
    ok = ok && target.error() == QFileDevice::NoError;
    if (ok && aReplace && QFileInfo::exists(aDestination))
        ok = QFile::remove(aDestination);
    ok = ok && target.rename(aDestination);
    if (!ok) {
        log.value("Copy failed", aDestination);
        log.value("error", target.errorString());
        QFile::remove(temporary);
    }
    return ok;
}
