#pragma once

#include "sync/powerinhibitor.h"

#include <QString>

// Takes a "sleep:idle" block lock from systemd-logind over D-Bus and holds the
// file descriptor it returns; closing that descriptor ends the lock.
class LogindPowerInhibitor : public PowerInhibitor
{
public:
    static constexpr int CallTimeoutMs = 5000;

    // Uses the system bus.
    LogindPowerInhibitor();
    // Uses an open QDBusConnection known by this name (tests, other buses).
    explicit LogindPowerInhibitor(const QString &aConnectionName);
    ~LogindPowerInhibitor() override;
    LogindPowerInhibitor(const LogindPowerInhibitor &) = delete;
    LogindPowerInhibitor &operator=(const LogindPowerInhibitor &) = delete;

    bool acquire() override;
    void release() override;
    bool isHeld() const override { return mLockFd >= 0; }

    // Why the last acquire failed, or empty.
    QString lastError() const { return mLastError; }

private:
    bool fail(const QString &aReason);

    QString mConnectionName;
    int mLockFd = -1;
    QString mLastError;
};
