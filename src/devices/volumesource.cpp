#include "devices/volumesource.h"

VolumeSource::~VolumeSource() = default;
