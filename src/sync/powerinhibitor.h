#pragma once

#include <memory>

// Keeps the machine from sleeping while a synchronisation run works. Failing
// to do so is never fatal: the run goes on, the reason is logged.
class PowerInhibitor
{
public:
    virtual ~PowerInhibitor() = default;

    // True when the machine is now kept awake; a second call while held is a no-op.
    virtual bool acquire() = 0;
    // Lets the machine sleep again; safe when nothing is held.
    virtual void release() = 0;
    virtual bool isHeld() const = 0;

    // The inhibitor of the running system (systemd-logind).
    static std::unique_ptr<PowerInhibitor> createDefault();
};
