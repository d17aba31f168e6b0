#pragma once

#include <QString>

// Held by whichever program is synchronising a phone, so that the window and
// mobrelay-sync never write one phone's cache at the same time. The kernel
// drops the lock with its holder, so a crash leaves nothing to clean up.
class RunLock
{
public:
    // home/VARUZ/run.lock unless given.
    explicit RunLock(const QString &aPath = QString());
    ~RunLock();
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // True when this object holds the lock now (also when it already did).
    bool tryLock();
    void unlock();
    bool isLocked() const { return mFd >= 0; }
    // The process that last took the lock, as it wrote itself into the file; 0 when unknown.
    qint64 holder() const;
    QString path() const { return mPath; }

private:
    QString mPath;
    int mFd = -1;
};
