#include "sync/powerinhibitor.h"

#include "sync/logindpowerinhibitor.h"

std::unique_ptr<PowerInhibitor> PowerInhibitor::createDefault()
{
    return std::make_unique<LogindPowerInhibitor>();
}
