#include "devices/mtp/deviceparentmtpmac.h"

#include "core/logger.h"
#include "devices/mtp/mtpconnection.h"
#include "devices/mtp/mtpsession.h"

#include <QMutexLocker>

DeviceParentMtpMac::DeviceParentMtpMac(std::shared_ptr<MtpTransport> aTransport,
                                       const MtpRawDevice &aDevice)
    : mRawDevice(aDevice), mLock(std::make_shared<QRecursiveMutex>()),
      mSession(std::make_shared<MtpSession>(std::move(aTransport), aDevice))
{
    LogScope scope("DeviceParentMtpMac::DeviceParentMtpMac");
    Logger::instance().value("aVendor", aDevice.mVendor);
    Logger::instance().value("aProduct", aDevice.mProduct);
}

DeviceParentMtpMac::~DeviceParentMtpMac() = default;

QString DeviceParentMtpMac::identity() const
{
    QMutexLocker locker(mLock.get());
    return mSession->identity();
}

int DeviceParentMtpMac::open()
{
    LogScope scope("DeviceParentMtpMac::open");
    QMutexLocker locker(mLock.get());
    const int result = mSession->connect();
    if (result != MtpConnection::Ok) {
        Logger::instance().value("Unable to open raw device", mSession->lastError());
        return scope.ret(result);
    }
    mFriendlyName = mSession->connection()->friendlyName();
    setName(mFriendlyName.isEmpty() ? QString(vendor() + QLatin1Char(' ') + product()).trimmed()
                                    : mFriendlyName);
    return scope.ret(result);
}
