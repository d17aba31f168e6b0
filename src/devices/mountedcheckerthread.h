#pragma once

#include <QThread>

#include <memory>

class MountedChecker;
class VolumeSource;

// Runs the mounted checks. The checker is made here and moved onto the thread,
// so that no check request sent right after construction can be lost.
class MountedCheckerThread : public QThread
{
    Q_OBJECT
public:
    explicit MountedCheckerThread(std::shared_ptr<VolumeSource> aVolumes,
                                  QObject *aParent = nullptr);
    // Waits for a check in progress to end.
    ~MountedCheckerThread() override;

    MountedChecker *checker() const { return mChecker.get(); }

protected:
    void run() override;

private:
    std::unique_ptr<MountedChecker> mChecker;
};
