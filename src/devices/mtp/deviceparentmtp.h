#pragma once

#include "devices/device.h"
#include "devices/deviceparent.h"

// A phone reached over MTP, one device per storage.
class DeviceParentMtp : public DeviceParent
{
public:
    int GetDeviceType() override { return Device::TypeMtp; }
};
