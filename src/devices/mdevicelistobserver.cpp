#include "devices/mdevicelistobserver.h"

MDeviceListObserver::~MDeviceListObserver() = default;
