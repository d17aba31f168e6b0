#include "devices/spacecalculator.h"

#include "core/logger.h"
#include "devices/device.h"

#include <limits>

namespace {
qint64 toSigned(quint64 aBytes)
{
    return qint64(qMin<quint64>(aBytes, quint64(std::numeric_limits<qint64>::max())));
}
} // namespace

int SpaceCalculator::calculate(Device &aDevice, qint64 &aUsed, qint64 &aFree)
{
    LogScope scope("SpaceCalculator::calculate");
    Logger &log = Logger::instance();
    if (!aDevice.IsMounted())
        return scope.ret(0);
    log.text("Device is mounted");
    quint64 capacity = 0;
    int result = aDevice.GetStorageCapacity(capacity);
    if (result != 0) {
        log.text("Can't get storage capacity");
        return scope.ret(result);
    }
    quint64 freeBytes = 0;
    result = aDevice.GetFreeStorageSpace(freeBytes);
    if (result != 0) {
        // Whatever the query left behind would read as a full phone.
        log.text("Can't get free storage space");
        aUsed = 0;
        aFree = 0;
        return scope.ret(result);
    }
    // Some phones report free space above their capacity; none of it counts as used.
    aFree = toSigned(freeBytes);
    aUsed = freeBytes < capacity ? toSigned(capacity - freeBytes) : 0;
    return scope.ret(0);
}
