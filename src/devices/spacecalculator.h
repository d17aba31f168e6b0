#pragma once

#include <QtGlobal>

class Device;

// Used and free bytes of one storage, for the space gauges.
class SpaceCalculator
{
public:
    // Leaves both outputs alone when the phone is not mounted or its capacity
    // cannot be read; callers zero them first. Returns 0 or the device's code.
    static int calculate(Device &aDevice, qint64 &aUsed, qint64 &aFree);
};
