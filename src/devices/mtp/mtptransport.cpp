#include "devices/mtp/mtptransport.h"

MtpTransport::~MtpTransport() = default;
