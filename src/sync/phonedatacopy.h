#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class Device;

// Carries messages, contacts and photos from the old phone's backup onto the
// phone, once: each option the phone's settings ask for is switched off only
// when its data has arrived.
class PhoneDataCopy
{
public:
    // aCancelled is asked between files; aProgress hears what is being copied.
    PhoneDataCopy(Device &aDevice, const QString &aDeviceId, std::function<bool()> aCancelled,
                  std::function<void(const QString &)> aProgress);

    // Returns one line per item that was asked for and did not arrive (empty
    // when nothing was asked or all arrived).
    QStringList run();

    static inline const QString DcimFolder = QStringLiteral("DCIM");
    static inline const QString BlackberryPhotoFolder = QStringLiteral("DCIM/Blackberry");

private:
    bool copyFolder(const QString &aFolder, const QString &aDestination);

    Device &mDevice;
    QString mDeviceId;
    std::function<bool()> mCancelled;
    std::function<void(const QString &)> mProgress;
};
