#pragma once

// Told by the device list when the set of phones changed.
class MDeviceListObserver
{
public:
    virtual ~MDeviceListObserver();
    virtual void deviceListChanged() = 0;
};
