#include "core/logger.h"

#include <QDir>
#include <QFile>

#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
// Whether this thread is writing a line; a fault inside a write leaves the
// lock held, and only the faulting thread may give it back.
thread_local bool tHoldsLock = false;

class LineLock
{
public:
    explicit LineLock(std::mutex &aLock) : mLock(aLock)
    {
        mLock.lock();
        tHoldsLock = true;
    }
    ~LineLock()
    {
        tHoldsLock = false;
        mLock.unlock();
    }
    LineLock(const LineLock &) = delete;
    LineLock &operator=(const LineLock &) = delete;

private:
    std::mutex &mLock;
};
} // namespace

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

Logger::Logger() = default;

Logger::~Logger()
{
    close();
}

QString Logger::defaultLogFolder()
{
    return QDir::homePath() + QDir::separator() + QStringLiteral("Desktop") + QDir::separator() +
           QStringLiteral("KVL");
}

void Logger::openDefault()
{
    const QString folder = defaultLogFolder();
    if (QFileInfo(folder).isDir())
        openFile(folder + QDir::separator() + QStringLiteral("log.txt"));
    else
        openFile(QString());
}

void Logger::openFile(const QString &aPath)
{
    const LineLock guard(mLock);
    std::FILE *old = mFile.exchange(nullptr, std::memory_order_acq_rel);
    if (old)
        std::fclose(old);
    if (aPath.isEmpty())
        return;
    // The window and mobrelay-sync share one log file: whoever holds it keeps
    // it, and a later program writes none rather than wipe the first's lines.
    const int fd =
        ::open(QFile::encodeName(aPath).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return;
    }
    std::FILE *file = ::fdopen(fd, "wb");
    if (!file)
        ::close(fd);
    mFile.store(file, std::memory_order_release);
}

void Logger::close()
{
    openFile(QString());
}

void Logger::recoverAfterFault()
{
    if (!tHoldsLock)
        return;
    tHoldsLock = false;
    if (std::FILE *file = mFile.load(std::memory_order_relaxed))
        put(file, "\r\n");
    mLock.unlock();
}

void Logger::put(std::FILE *aFile, const char *aData, size_t aLength)
{
    if (aLength > 0)
        std::fwrite(aData, 1, aLength, aFile);
    std::fflush(aFile);
}

void Logger::writeTimestamp(std::FILE *aFile)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    const int n = std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d:%03d", local.tm_hour,
                                local.tm_min, local.tm_sec, int(now.tv_usec / 1000));
    put(aFile, stamp, size_t(n));
}

void Logger::writeLine(const char *aMarker, const char *aText)
{
    const LineLock guard(mLock);
    std::FILE *file = mFile.load(std::memory_order_relaxed);
    if (!file)
        return;
    writeTimestamp(file);
    put(file, aMarker);
    put(file, aText);
    put(file, "\r\n");
}

void Logger::writeReturns(int aValue)
{
    char number[16];
    std::snprintf(number, sizeof number, "%d", aValue);
    writeLine("Returns: ", number);
}

void Logger::writeIntValue(const char *aName, int aValue)
{
    char number[16];
    const int n = std::snprintf(number, sizeof number, "%d", aValue);
    writeValue(aName, number, size_t(n));
}

void Logger::writeValue(const char *aName, const QString &aText)
{
    const QByteArray utf8 = aText.toUtf8();
    writeValue(aName, utf8.constData(), size_t(utf8.size()));
}

void Logger::writeValue(const char *aName, const char *aText, size_t aLength)
{
    const LineLock guard(mLock);
    std::FILE *file = mFile.load(std::memory_order_relaxed);
    if (!file)
        return;
    writeTimestamp(file);
    put(file, "    ");
    put(file, aName);
    put(file, " = ");
    put(file, aText, aLength);
    put(file, "\r\n");
}

void Logger::dumpFile(const QString &aPath)
{
    if (!isOn())
        return;
    const QByteArray path = aPath.toUtf8();
    const LineLock guard(mLock);
    std::FILE *file = mFile.load(std::memory_order_relaxed);
    if (!file)
        return;
    writeTimestamp(file);
    put(file, path.constData(), size_t(path.size()));
    QFile source(aPath);
    if (!source.open(QIODevice::ReadOnly))
        return;
    char buffer[64 * 1024];
    qint64 n;
    while ((n = source.read(buffer, sizeof buffer)) > 0)
        std::fwrite(buffer, 1, size_t(n), file);
    put(file, "End-of-file\r\n");
}
