#include "ui/playlistnameloader.h"

#include "core/logger.h"
#include "library/localmusiclibrary.h"

PlaylistNameLoader::PlaylistNameLoader(std::shared_ptr<ITunesAppFactory> aFactory, QObject *aParent)
    : QThread(aParent), mRead(std::move(aFactory))
{}

PlaylistNameLoader::~PlaylistNameLoader()
{
    cancel();
    wait();
}

void PlaylistNameLoader::cancel()
{
    mRead.cancel();
}

void PlaylistNameLoader::run()
{
    LogScope scope("PlaylistNameLoader::run");
    int result = 0;
    QStringList names;
    const bool read = mRead.run([&](LocalMusicLibrary &aLibrary) {
        aLibrary.refreshPlaylists(&result);
        names = aLibrary.playlists();
    });
    if (read && result == 0 && !mRead.isCancelled())
        Q_EMIT loaded(names);
}
