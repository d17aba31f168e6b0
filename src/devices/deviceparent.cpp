#include "devices/deviceparent.h"

#include "devices/device.h"

#include <algorithm>

DeviceParent::~DeviceParent() = default;

int DeviceParent::GetAndroidVersion()
{
    int version = -1;
    for (Device *device : std::as_const(mDevices))
        version = std::max(version, device->GetAndroidVersion());
    return version;
}
