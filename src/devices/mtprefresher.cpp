#include "devices/mtprefresher.h"

MtpRefresher::~MtpRefresher() = default;
