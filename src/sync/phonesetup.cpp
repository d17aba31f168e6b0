#include "sync/phonesetup.h"

#include "core/logger.h"
#include "devices/device.h"
#include "settings/phoneconfiguration.h"

bool PhoneSetup::finish(Device &aDevice, const PhoneConfiguration &aConfiguration,
                        QString &aMessage)
{
    LogScope scope("PhoneSetup::finish");
    aMessage.clear();
    // Keeps an id the phone already carries: its cache is named by it.
    aDevice.SetConfigured();
    const QString id = aDevice.UniqueDeviceId();
    if (id.isEmpty() || id == Device::TempDeviceId) {
        aMessage = QStringLiteral("could not read or write the phone's identifier file");
        return false;
    }
    return aConfiguration.save(id, aDevice.FriendlyName(), aMessage);
}
