#include "devices/safefilecopy.h"

#include "app/logger.h"

#include <QFile>
#include <QFileInfo>

#include <memory>
#include <unistd.h>

namespace {
constexpr qint64 BlockSize = 1 << 20;

bool copyData(QFile &aFrom, QFile &aTo)
{
    const std::unique_ptr<char[]> buffer(new char[BlockSize]);
    for (;;) {
        const qint64 read = aFrom.read(buffer.get(), BlockSize);
        if (read < 0)
            return false;
        if (read == 0)
            return true;
        if (aTo.write(buffer.get(), read) != read)
            return false;
    }
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
    bool ok = copyData(source, target) && target.flush() && ::fsync(target.handle()) == 0;
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
