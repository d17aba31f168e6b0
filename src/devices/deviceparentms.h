#pragma once

#include "devices/device.h"
#include "devices/deviceparent.h"

// A phone seen as a USB drive: one drive, one storage.
class DeviceParentMs : public DeviceParent
{
public:
    int GetDeviceType() override { return Device::TypeUsbMassStorage; }
};
