#pragma once

#include "devices/usbmsdevice.h"

// A USB phone whose capacity and free-space queries can be made to fail or to
// report any figure, as some MTP phones do.
class SpaceFaultDevice : public UsbMSDevice
{
public:
    using UsbMSDevice::UsbMSDevice;

    int GetStorageCapacity(quint64 &aBytes) override;
    int GetFreeStorageSpace(quint64 &aBytes) override;

    // A code of 0 answers with the figure, another leaves the figure written
    // and returns the code.
    int mCapacityResult = 0;
    quint64 mCapacity = 0;
    int mFreeResult = 0;
    quint64 mFree = 0;
};
