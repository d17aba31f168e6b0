#include "library/podcastramcache.h"

#include "core/logger.h"
#include "library/localmusiclibrary.h"

#include <atomic>

namespace {
std::atomic<PodcastRamCache *> theInstance{nullptr};
}

PodcastRamCache::PodcastRamCache(std::shared_ptr<ITunesAppFactory> aFactory, QObject *aParent)
    : QThread(aParent), mRead(std::move(aFactory))
{
    PodcastRamCache *none = nullptr;
    theInstance.compare_exchange_strong(none, this);
}

PodcastRamCache::~PodcastRamCache()
{
    cancel();
    wait();
    PodcastRamCache *self = this;
    theInstance.compare_exchange_strong(self, nullptr);
}

PodcastRamCache *PodcastRamCache::instance()
{
    return theInstance.load();
}

void PodcastRamCache::getPodcasts(QStringList &aNames) const
{
    QMutexLocker locker(&mLock);
    aNames = mPodcasts;
}

void PodcastRamCache::cancel()
{
    mRead.cancel();
}

void PodcastRamCache::run()
{
    LogScope scope("PodcastRamCache::run");
    QStringList podcasts;
    const bool read = mRead.run([&](LocalMusicLibrary &aLibrary) {
        aLibrary.refreshPodcasts();
        podcasts = aLibrary.podcasts();
    });
    if (!read)
        return;
    {
        QMutexLocker locker(&mLock);
        mPodcasts = podcasts;
    }
    Q_EMIT updated();
}
