#pragma once

#include <QString>

class Device;
class PhoneConfiguration;
class SyncCliOptions;

// The choices of `mobrelay-sync configure`, stored as the setup wizard's
// Finish stores them.
class PhoneConfigurator
{
public:
    static PhoneConfiguration fromOptions(const SyncCliOptions &aOptions);
    // 0, or ExitCode::CannotCreate when the phone or the settings file could
    // not be written; aMessage explains a failure.
    static int configure(Device &aDevice, const SyncCliOptions &aOptions, QString &aMessage);
    // One line per stored choice, for the user.
    static QString describe(const QString &aDeviceId);
};
