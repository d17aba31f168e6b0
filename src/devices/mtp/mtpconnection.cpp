#include "devices/mtp/mtpconnection.h"

MtpConnection::~MtpConnection() = default;
