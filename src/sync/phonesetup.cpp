#include "sync/phonesetup.h"

#include "core/logger.h"
#include "devices/device.h"
#include "settings/phoneconfiguration.h"

bool PhoneSetup::finish(Device &aDevice, const PhoneConfiguration &aConfiguration,
                        QString &aMessage)
{
    LogScope scope("PhoneSetup::finish");
    aMessage.clear();
    // A phone listed before it was mounted has not read the id it may already
    // carry; asking whether it is configured reads it, and SetConfigured then
    // keeps it: the phone's cache is named by it.
    aDevice.IsConfigured();
    aDevice.SetConfigured();
    const QString id = aDevice.UniqueDeviceId();
    if (id.isEmpty() || id == Device::TempDeviceId) {
        aMessage = QStringLiteral("could not read or write the phone's identifier file");
        return false;
    }
    return aConfiguration.save(id, aDevice.FriendlyName(), aMessage);
}
