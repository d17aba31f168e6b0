#include "library/podcastramcache.h"

#include "core/logger.h"
#include "library/localmusiclibrary.h"

#include <atomic>

namespace {
std::atomic<PodcastRamCache *> theInstance{nullptr};
}

PodcastRamCache::PodcastRamCache(std::shared_ptr<ITunesAppFactory> aFactory, QObject *aParent)
    : QThread(aParent), mFactory(std::move(aFactory))
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
    QMutexLocker locker(&mLock);
    mCancelled = true;
    if (mLibrary)
        mLibrary->setCancelled(true);
}

void PodcastRamCache::run()
{
    LogScope scope("PodcastRamCache::run");
    auto library = mFactory ? std::make_unique<LocalMusicLibrary>(mFactory)
                            : std::make_unique<LocalMusicLibrary>();
    {
        QMutexLocker locker(&mLock);
        if (mCancelled)
            return;
        mLibrary = library.get();
    }
    library->refreshPodcasts();
    {
        QMutexLocker locker(&mLock);
        mPodcasts = library->podcasts();
        mLibrary = nullptr;
    }
    Q_EMIT updated();
}
