#pragma once

#include <QString>

class Device;
class SyncCliOptions;

// Writes a phone's configuration the way the setup wizard's Finish does:
// marks the phone configured, stores its choices and options, saves.
class PhoneConfigurator
{
public:
    // 0, or ExitCode::CannotCreate when the phone or the settings file could
    // not be written; aMessage explains a failure.
    static int configure(Device &aDevice, const SyncCliOptions &aOptions, QString &aMessage);
    // One line per choice, for the user.
    static QString describe(const QString &aDeviceId);
};
