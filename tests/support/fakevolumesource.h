#pragma once

#include "devices/volumesource.h"

#include <QMap>
#include <QMutex>

// Folders posing as USB phone drives, for tests and the headless front end's
// test mode. Drives can be plugged, unplugged, made unresponsive and given any
// size; all calls are thread-safe.
class FakeVolumeSource : public VolumeSource
{
public:
    static constexpr quint64 DefaultTotalBytes = quint64(16) << 30;
    static constexpr quint64 DefaultFreeBytes = quint64(8) << 30;

    void plug(const QString &aRootPath, const QString &aName = QStringLiteral("Fake Phone"),
              quint64 aTotalBytes = DefaultTotalBytes, quint64 aFreeBytes = DefaultFreeBytes);
    void unplug(const QString &aRootPath);
    // A plugged drive that does not answer behaves as if it were still mounting.
    void setResponding(const QString &aRootPath, bool aResponding);
    void setFreeBytes(const QString &aRootPath, quint64 aFreeBytes);
    void setTotalBytes(const QString &aRootPath, quint64 aTotalBytes);

    QList<VolumeInfo> phoneDrives() override;
    bool diskSpace(const QString &aRootPath, quint64 &aTotalBytes, quint64 &aFreeBytes) override;

private:
    struct Drive
    {
        VolumeInfo mVolume;
        bool mResponding = true;
    };

    QMutex mLock;
    QMap<QString, Drive> mDrives;
};
