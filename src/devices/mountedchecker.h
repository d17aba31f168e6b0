#pragma once

#include <QObject>
#include <QString>

#include <memory>

class VolumeSource;

// Asks whether a USB drive answers. Lives on the mounted checker's thread: a
// hung mount blocks this thread only, never the window.
class MountedChecker : public QObject
{
    Q_OBJECT
public:
    explicit MountedChecker(std::shared_ptr<VolumeSource> aVolumes);

public Q_SLOTS:
    void startMountedCheck(QString aRootPath);

Q_SIGNALS:
    void mountedStatusUpdate(int aMountedState, QString aRootPath);
    // Sizes found by the same check, after its mounted status; only when the drive answered.
    void diskSpaceUpdate(QString aRootPath, quint64 aTotalBytes, quint64 aFreeBytes);

private:
    std::shared_ptr<VolumeSource> mVolumes;
};
