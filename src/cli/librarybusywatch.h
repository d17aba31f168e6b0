#pragma once

#include <QMetaObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class LocalMusicLibrary;

// Gives up on a library that stays busy for longer than a limit while a
// command works: aOnTimeout runs (on the watch's own thread), then the
// library stops waiting.
class LibraryBusyWatch
{
public:
    LibraryBusyWatch(LocalMusicLibrary &aLibrary, int aSeconds, std::function<void()> aOnTimeout);
    ~LibraryBusyWatch();
    LibraryBusyWatch(const LibraryBusyWatch &) = delete;
    LibraryBusyWatch &operator=(const LibraryBusyWatch &) = delete;

    bool timedOut() const { return mTimedOut.load(); }

private:
    void watch();

    LocalMusicLibrary &mLibrary;
    const qint64 mLimitMs;
    std::function<void()> mOnTimeout;
    std::atomic<qint64> mBusySinceMs{0};
    std::atomic<bool> mTimedOut{false};
    QMetaObject::Connection mFailure;
    QMetaObject::Connection mOkay;
    std::mutex mLock;
    std::condition_variable mWake;
    bool mStop = false;
    std::thread mThread;
};
