#include "ui/playlistnameloader.h"

#include "core/logger.h"
#include "library/localmusiclibrary.h"

PlaylistNameLoader::PlaylistNameLoader(std::shared_ptr<ITunesAppFactory> aFactory, QObject *aParent)
    : QThread(aParent), mFactory(std::move(aFactory))
{}

PlaylistNameLoader::~PlaylistNameLoader()
{
    cancel();
    wait();
}

void PlaylistNameLoader::cancel()
{
    QMutexLocker locker(&mLock);
    mCancelled = true;
    if (mLibrary)
        mLibrary->setCancelled(true);
}

void PlaylistNameLoader::run()
{
    LogScope scope("PlaylistNameLoader::run");
    auto library = mFactory ? std::make_unique<LocalMusicLibrary>(mFactory)
                            : std::make_unique<LocalMusicLibrary>();
    {
        QMutexLocker locker(&mLock);
        if (mCancelled)
            return;
        mLibrary = library.get();
    }
    int result = 0;
    library->refreshPlaylists(&result);
    bool cancelled;
    {
        QMutexLocker locker(&mLock);
        mLibrary = nullptr;
        cancelled = mCancelled;
    }
    if (result == 0 && !cancelled)
        Q_EMIT loaded(library->playlists());
}
