#include "librarybusywatch.h"

#include "library/localmusiclibrary.h"

#include <QDateTime>

#include <chrono>

namespace {
constexpr auto PollInterval = std::chrono::milliseconds(100);

qint64 nowMs()
{
    // Never 0, which means "not busy".
    return QDateTime::currentMSecsSinceEpoch() | 1;
}
} // namespace

LibraryBusyWatch::LibraryBusyWatch(LocalMusicLibrary &aLibrary, int aSeconds,
                                   std::function<void()> aOnTimeout)
    : mLibrary(aLibrary), mLimitMs(qint64(aSeconds) * 1000), mOnTimeout(std::move(aOnTimeout))
{
    // Direct connections: the library reports from whichever thread calls it.
    mFailure = QObject::connect(&mLibrary, &LocalMusicLibrary::iTunesFailure, [this] {
        qint64 expected = 0;
        mBusySinceMs.compare_exchange_strong(expected, nowMs());
    });
    mOkay = QObject::connect(&mLibrary, &LocalMusicLibrary::iTunesOkay,
                             [this] { mBusySinceMs.store(0); });
    mThread = std::thread([this] { watch(); });
}

LibraryBusyWatch::~LibraryBusyWatch()
{
    QObject::disconnect(mFailure);
    QObject::disconnect(mOkay);
    {
        std::lock_guard<std::mutex> locker(mLock);
        mStop = true;
    }
    mWake.notify_all();
    mThread.join();
}

void LibraryBusyWatch::watch()
{
    std::unique_lock<std::mutex> locker(mLock);
    while (!mStop) {
        mWake.wait_for(locker, PollInterval);
        const qint64 since = mBusySinceMs.load();
        if (mStop || since == 0 || nowMs() - since <= mLimitMs)
            continue;
        mTimedOut.store(true);
        // The run first: a library read failing before it knows would end in a
        // failed run instead of a cancelled one.
        if (mOnTimeout)
            mOnTimeout();
        mLibrary.setCancelled(true);
        return;
    }
}
