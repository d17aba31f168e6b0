#include "library/localmusiclibrary.h"

#include "core/apppaths.h"
#include "core/logger.h"
#include "core/tracklist.h"
#include "library/itfileorcdtrack.h"
#include "library/itplaylist.h"
#include "library/ituserplaylist.h"
#include "library/locallibraryinitialisethread.h"
#include "library/xmlitunesappfactory.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {
constexpr int MaxUnexpectedRetries = 8;
}

LocalMusicLibrary::LocalMusicLibrary(QObject *aParent)
    : LocalMusicLibrary(std::make_shared<XmlITunesAppFactory>(), aParent)
{}

LocalMusicLibrary::LocalMusicLibrary(std::shared_ptr<ITunesAppFactory> aFactory, QObject *aParent)
    : QObject(aParent), mInitialiseThread(new LocalLibraryInitialiseThread(this, this)),
      mFactory(std::move(aFactory))
{}

LocalMusicLibrary::~LocalMusicLibrary()
{
    // A first contact still waiting for the library must not outlive us.
    setCancelled(true);
    mInitialiseThread->wait();
}

void LocalMusicLibrary::setCancelled(bool aCancelled)
{
    {
        std::lock_guard<std::mutex> locker(mPauseLock);
        mCancelled.store(aCancelled);
    }
    mPauseWake.notify_all();
}

void LocalMusicLibrary::pause()
{
    std::unique_lock<std::mutex> locker(mPauseLock);
    mPauseWake.wait_for(locker, std::chrono::milliseconds(mRetryPauseMs),
                        [this] { return mCancelled.load(); });
}

bool LocalMusicLibrary::shouldRetry(HResult &aResult, int &aRetryCounter)
{
    Logger &log = Logger::instance();
    if (!ITResult::failed(aResult)) {
        // Only the change back to answering is news: a run makes hundreds of
        // thousands of calls, and each signal would be queued to the window.
        if (mOkayPending.exchange(false))
            Q_EMIT iTunesOkay();
        return false;
    }
    log.value("*** Retrying, error", aResult);
    if (ITResult::isBusy(aResult)) {
        mOkayPending.store(true);
        Q_EMIT iTunesFailure();
        log.text("Expected iTunes not responding error - always retry...");
    } else {
        log.value("Unexpected iTunes error, aRetryCounter", aRetryCounter);
        if (aRetryCounter >= MaxUnexpectedRetries) {
            ++aRetryCounter;
            return false;
        }
    }
    pause();
    if (mCancelled.load()) {
        log.text("Cancelled - not retrying");
        return false;
    }
    log.text("Retrying...");
    ++aRetryCounter;
    return true;
}

bool LocalMusicLibrary::shouldRetryPointer(HResult &aResult, int &aRetryCounter, bool aIsNull)
{
    if (ITResult::failed(aResult)) {
        Logger::instance().text("*** ptr getting error returned from iTunes");
        return shouldRetry(aResult, aRetryCounter);
    }
    if (aIsNull) {
        Logger::instance().text("*** Null pointer returned from iTunes (but no error)");
        aResult = NoObject;
    }
    return false;
}

bool LocalMusicLibrary::shouldRetryString(HResult &aResult, int &aRetryCounter, QString &aText)
{
    if (ITResult::failed(aResult)) {
        Logger::instance().text("*** string getting error returned from iTunes");
        return shouldRetry(aResult, aRetryCounter);
    }
    if (aText.isNull()) {
        Logger::instance().text("*** Null string returned from iTunes - changing to empty string");
        aText = QStringLiteral("");
    }
    return false;
}

template <typename Call> HResult LocalMusicLibrary::retryPlain(Call &&aCall)
{
    int counter = 0;
    HResult result;
    do {
        result = aCall();
    } while (shouldRetry(result, counter));
    return result;
}

template <typename T, typename Call>
HResult LocalMusicLibrary::retryPointer(std::shared_ptr<T> &aOut, Call &&aCall)
{
    int counter = 0;
    HResult result;
    do {
        result = aCall(aOut);
    } while (shouldRetryPointer(result, counter, !aOut));
    return result;
}

template <typename Call> HResult LocalMusicLibrary::retryString(QString &aOut, Call &&aCall)
{
    int counter = 0;
    HResult result;
    do {
        result = aCall(aOut);
    } while (shouldRetryString(result, counter, aOut));
    return result;
}

HResult LocalMusicLibrary::createApp(std::shared_ptr<ITunesApp> &aApp)
{
    int counter = 0;
    HResult result;
    do {
        result = mFactory->create(aApp);
        if (ITResult::failed(result))
            Logger::instance().text("*** ptr getting error returned from iTunes");
    } while (shouldRetry(result, counter));
    if (!ITResult::failed(result) && !aApp)
        result = NoObject;
    return result;
}

void LocalMusicLibrary::initialiseInNewThread()
{
    mInitialiseThread->start();
}

void LocalMusicLibrary::initialise()
{
    LogScope scope("LocalMusicLibrary::initialise");
    Logger &log = Logger::instance();
    if (isInitialised()) {
        log.text("Already initiaized");
        return;
    }
    log.text("Attempting to create iTunesApp");
    std::shared_ptr<ITunesApp> app;
    const HResult result = createApp(app);
    log.value("CoCreateInstance(CLSID_iTunesApp returns:", result);
    if (ITResult::failed(result))
        return;
    log.text("Created iTunesApp");
    mInitialised.store(1);
    Q_EMIT initialisationComplete();
}

int LocalMusicLibrary::getPlaylistCollection(std::shared_ptr<ITPlaylistCollection> &aCollection)
{
    LogScope scope("LocalMusicLibrary::getPlaylistCollection");
    Logger &log = Logger::instance();
    aCollection.reset();
    std::shared_ptr<ITunesApp> app;
    if (ITResult::failed(createApp(app))) {
        log.text("Could not create iTunesApp");
        return scope.ret(CallFailed);
    }
    std::shared_ptr<ITSourceCollection> sources;
    if (ITResult::failed(retryPointer(sources, [&](auto &aOut) { return app->Sources(aOut); }))) {
        log.text("Could not get sources");
        return scope.ret(CallFailed);
    }
    qint32 sourceCount = 0;
    if (ITResult::failed(retryPlain([&] { return sources->Count(sourceCount); }))) {
        log.text("Could not get source count");
        return scope.ret(CallFailed);
    }
    log.value("intSourceCount", sourceCount);
    std::shared_ptr<ITSource> library;
    for (qint32 index = 1; index <= sourceCount && !library; ++index) {
        log.value("Trying source index", index - 1);
        std::shared_ptr<ITSource> source;
        if (ITResult::failed(
                retryPointer(source, [&](auto &aOut) { return sources->Item(index, aOut); })))
            continue;
        qint32 kind = 0;
        if (ITResult::failed(retryPlain([&] { return source->Kind(kind); })))
            continue;
        if (kind == ITSource::KindLibrary) {
            log.text("Found local library");
            library = source;
        }
    }
    if (!library) {
        log.text("Failure or local library not found");
        return scope.ret(CallFailed);
    }
    if (ITResult::failed(
            retryPointer(aCollection, [&](auto &aOut) { return library->Playlists(aOut); }))) {
        log.text("Could not get playlists from source");
        aCollection.reset();
        return scope.ret(CallFailed);
    }
    return scope.ret(0);
}

int LocalMusicLibrary::getPlaylist(const QString &aName, std::shared_ptr<ITPlaylist> &aPlaylist,
                                   qint64 &aSize)
{
    LogScope scope("LocalMusicLibrary::getPlaylist");
    Logger &log = Logger::instance();
    log.value("aPlaylistName", aName);
    aPlaylist.reset();
    aSize = 0;
    std::shared_ptr<ITPlaylistCollection> collection;
    if (getPlaylistCollection(collection) != 0) {
        log.text("Could not get playlist collection");
        return scope.ret(CallFailed);
    }
    // "Not found" means the user's choice is gone; a failed read must never pass for it.
    qint32 count = 0;
    if (ITResult::failed(retryPlain([&] { return collection->Count(count); }))) {
        log.text("Could not get playlist count");
        return scope.ret(CallFailed);
    }
    std::shared_ptr<ITPlaylist> found;
    for (qint32 index = count; index >= 1 && !found; --index) {
        std::shared_ptr<ITPlaylist> playlist;
        if (ITResult::failed(retryPointer(
                playlist, [&](auto &aOut) { return collection->Item(index, aOut); }))) {
            log.text("Failure getting playlist collection item");
            return scope.ret(CallFailed);
        }
        if (aName.isEmpty()) {
            std::shared_ptr<ITUserPlaylist> user;
            const HResult result = playlist->QueryUserPlaylist(user);
            if (ITResult::failed(result) || !user) {
                log.value("Last error", result);
                return scope.ret(CallFailed);
            }
            log.text("Got user playlist");
            qint32 specialKind = 0;
            if (ITResult::failed(retryPlain([&] { return user->SpecialKind(specialKind); })))
                return scope.ret(CallFailed);
            log.value("Got playlist special kind", specialKind);
            if (specialKind == ITUserPlaylist::SpecialKindMusic) {
                log.text("Found special Music playlist");
                found = playlist;
            }
        } else {
            QString name;
            if (ITResult::failed(
                    retryString(name, [&](QString &aOut) { return playlist->Name(aOut); }))) {
                log.text("Failed getting playlist name");
                return scope.ret(CallFailed);
            }
            if (name == aName)
                found = playlist;
        }
    }
    if (!found)
        return scope.ret(PlaylistNotFound);
    double size = 0;
    if (ITResult::failed(retryPlain([&] { return found->Size(size); }))) {
        log.text("Could not get playlist size");
        return scope.ret(CallFailed);
    }
    aSize = qint64(size);
    aPlaylist = found;
    return scope.ret(0);
}

int LocalMusicLibrary::getAllTracks(const QString &aName, TrackList &aTracks, qint64 &aSize,
                                    bool aConvertToMp3, TrackList &aDrmTracks,
                                    LocalPlaylist &aLocalPlaylist)
{
    LogScope scope("LocalMusicLibrary::getAllTracks");
    aLocalPlaylist.mName = aName;
    aSize = 0;
    std::shared_ptr<ITPlaylist> playlist;
    qint64 size = 0;
    if (getPlaylist(aName, playlist, size) != 0) {
        Logger::instance().text("Failed to get playlist");
        return scope.ret(CallFailed);
    }
    return scope.ret(
        readTracks(playlist, aTracks, aSize, aConvertToMp3, aDrmTracks, aLocalPlaylist));
}

static bool isProtected(const QString &aLocation)
{
    if (aLocation.size() <= 3)
        return false;
    const QStringView end = QStringView(aLocation).right(3);
    return end.compare(QLatin1String("m4p"), Qt::CaseInsensitive) == 0 ||
           end.compare(QLatin1String("m4b"), Qt::CaseInsensitive) == 0;
}

int LocalMusicLibrary::readTracks(const std::shared_ptr<ITPlaylist> &aPlaylist, TrackList &aTracks,
                                  qint64 &aSize, bool aConvertToMp3, TrackList &aDrmTracks,
                                  LocalPlaylist &aLocalPlaylist)
{
    Logger &log = Logger::instance();
    std::shared_ptr<ITTrackCollection> tracks;
    if (ITResult::failed(
            retryPointer(tracks, [&](auto &aOut) { return aPlaylist->Tracks(aOut); }))) {
        log.text("Failed to get tracks from playlist");
        return CallFailed;
    }
    qint32 count = 0;
    if (ITResult::failed(retryPlain([&] { return tracks->Count(count); }))) {
        log.text("Failed to get playlist count");
        return CallFailed;
    }
    double size = 0;
    if (ITResult::failed(retryPlain([&] { return aPlaylist->Size(size); }))) {
        log.text("Failed to get playlist size");
        return CallFailed;
    }
    aSize = qint64(size);

    for (qint32 index = 1; index <= count; ++index) {
        std::shared_ptr<ITTrack> item;
        // A track left out would be taken for one the user no longer wants.
        if (ITResult::failed(
                retryPointer(item, [&](auto &aOut) { return tracks->Item(index, aOut); }))) {
            log.text("Error getting track");
            return CallFailed;
        }
        std::shared_ptr<ITFileOrCDTrack> file;
        if (ITResult::failed(item->QueryFileTrack(file)) || !file) {
            log.text("Error getting file info");
            continue;
        }
        QString name, location, artist, album;
        qint64 trackSize = 0;
        bool compilation = false;
        double dateAdded = 0;
        qint32 trackNumber = 0;
        if (ITResult::failed(retryString(name, [&](QString &aOut) { return item->Name(aOut); })))
            log.text("Error getting name");
        if (ITResult::failed(retryPlain([&] { return item->Size(trackSize); })))
            log.text("Error getting size");
        if (ITResult::failed(retryPlain([&] { return item->Compilation(compilation); })))
            log.text("Error getting compilation flag");
        if (ITResult::failed(retryPlain([&] { return file->DateAdded(dateAdded); })))
            log.text("Error getting date added");
        if (ITResult::failed(
                retryString(location, [&](QString &aOut) { return file->Location(aOut); }))) {
            log.text("Error getting location");
            return CallFailed;
        }
        if (ITResult::failed(
                retryString(artist, [&](QString &aOut) { return item->Artist(aOut); })))
            log.text("Error getting artist");
        if (ITResult::failed(retryString(album, [&](QString &aOut) { return item->Album(aOut); })))
            log.text("Error getting album");
        if (ITResult::failed(retryPlain([&] { return item->TrackNumber(trackNumber); })))
            log.text("Error getting track number");

        Track track(name, album, artist, trackNumber, location, true, false, false, QString());
        track.mLocalFileSize = trackSize;
        track.mDateAdded = qint64(dateAdded);
        track.mIsCompilation = compilation;
        track.mConvertToMp3 = aConvertToMp3;
        if (isProtected(location)) {
            log.text("Track added to DRM list");
            aDrmTracks.addTrack(track);
        } else {
            log.text("Track added");
            const int position = aTracks.addTrack(track);
            aLocalPlaylist.mEntries.append(LocalPlaylistEntry{position, track.mDateAdded});
        }
        track.dump();
    }
    return 0;
}

bool LocalMusicLibrary::forEachUserPlaylist(const UserPlaylistVisitor &aVisit)
{
    Logger &log = Logger::instance();
    std::shared_ptr<ITPlaylistCollection> collection;
    if (getPlaylistCollection(collection) != 0) {
        log.text("Failed to get playlist collection");
        return false;
    }
    qint32 count = 0;
    if (ITResult::failed(retryPlain([&] { return collection->Count(count); }))) {
        log.text("Failed to get playlist count");
        return false;
    }
    if (ITResult::failed(retryPlain([&] { return collection->Count(count); }))) {
        log.text("Failed to get playlist count for index");
        return false;
    }
    // A playlist passed over could be the one chosen, or hold the chosen podcast.
    for (qint32 index = 1; index <= count; ++index) {
        log.text("Looking for playlists...");
        log.value("playlist_index", index);
        std::shared_ptr<ITPlaylist> playlist;
        if (ITResult::failed(retryPointer(
                playlist, [&](auto &aOut) { return collection->Item(index, aOut); }))) {
            log.text("Unable to get playlist");
            return false;
        }
        qint32 kind = 0;
        if (ITResult::failed(retryPlain([&] { return playlist->Kind(kind); })))
            return false;
        if (kind != ITPlaylist::KindUser)
            continue;
        log.text("User playlist found");
        std::shared_ptr<ITUserPlaylist> user;
        if (ITResult::failed(playlist->QueryUserPlaylist(user)) || !user)
            return false;
        log.text("Got user playlist");
        qint32 specialKind = 0;
        if (ITResult::failed(retryPlain([&] { return user->SpecialKind(specialKind); })))
            return false;
        log.value("Got special kind", specialKind);
        if (!aVisit(playlist, specialKind))
            return false;
    }
    return true;
}

bool LocalMusicLibrary::refreshPlaylists(int *aResult)
{
    LogScope scope("LocalMusicLibrary::refreshPlaylists");
    Logger &log = Logger::instance();
    mPlaylists.clear();
    mPodcasts.clear();
    const bool walked =
        forEachUserPlaylist([&](const std::shared_ptr<ITPlaylist> &aPlaylist, qint32 aSpecialKind) {
            if (aSpecialKind != ITUserPlaylist::SpecialKindNone)
                return true;
            QString name;
            if (ITResult::failed(
                    retryString(name, [&](QString &aOut) { return aPlaylist->Name(aOut); })))
                return false;
            log.text("Adding playlist");
            log.value("name", name);
            mPlaylists.append(name);
            return true;
        });
    if (aResult)
        *aResult = walked ? 0 : CallFailed;
    if (!walked) {
        log.text("The playlists could not all be read");
        return false;
    }
    const bool changed = mPlaylists != mPreviousPlaylists;
    mPreviousPlaylists = mPlaylists;
    return changed;
}

bool LocalMusicLibrary::findPodcastPlaylists(QList<std::shared_ptr<ITPlaylist>> &aPlaylists)
{
    return forEachUserPlaylist(
        [&aPlaylists](const std::shared_ptr<ITPlaylist> &aPlaylist, qint32 aSpecialKind) {
            if (aSpecialKind == ITUserPlaylist::SpecialKindPodcasts) {
                Logger::instance().text("Got podcasts playlist");
                aPlaylists.append(aPlaylist);
            }
            return true;
        });
}

int LocalMusicLibrary::refreshPodcasts()
{
    LogScope scope("LocalMusicLibrary::refreshPodcasts");
    Logger &log = Logger::instance();
    mPodcasts.clear();
    QSet<QString> seen;
    QList<std::shared_ptr<ITPlaylist>> playlists;
    if (!findPodcastPlaylists(playlists))
        return scope.ret(CallFailed);
    for (const auto &playlist : std::as_const(playlists)) {
        std::shared_ptr<ITTrackCollection> tracks;
        if (ITResult::failed(
                retryPointer(tracks, [&](auto &aOut) { return playlist->Tracks(aOut); }))) {
            log.text("Failed to get tracks from playlist");
            return scope.ret(CallFailed);
        }
        log.text("Got track collections");
        qint32 count = 0;
        if (ITResult::failed(retryPlain([&] { return tracks->Count(count); }))) {
            log.text("Failed to get playlist count");
            return scope.ret(CallFailed);
        }
        // An episode passed over could be the only one of its podcast.
        for (qint32 index = 1; index <= count; ++index) {
            log.text("Getting track");
            std::shared_ptr<ITTrack> track;
            if (ITResult::failed(
                    retryPointer(track, [&](auto &aOut) { return tracks->Item(index, aOut); }))) {
                log.text("Error getting track");
                return scope.ret(CallFailed);
            }
            QString album;
            if (ITResult::failed(
                    retryString(album, [&](QString &aOut) { return track->Album(aOut); }))) {
                log.text("Error getting album");
                return scope.ret(CallFailed);
            }
            if (!seen.contains(album)) {
                seen.insert(album);
                mPodcasts.append(album);
            }
        }
    }
    return scope.ret(0);
}

int LocalMusicLibrary::getPodcasts(const QStringList &aNames, QList<LocalPlaylist> &aPlaylists,
                                   TrackList &aTracks)
{
    LogScope scope("LocalMusicLibrary::getPodcasts");
    Logger &log = Logger::instance();
    // One playlist per requested name, even when the library has several
    // Podcasts playlists or none at all.
    QHash<QString, int> byName;
    for (const QString &name : aNames) {
        if (byName.contains(name))
            continue;
        aPlaylists.append(LocalPlaylist{name, {}});
        log.value("Adding podcast to map: ", name);
        byName.insert(name, int(aPlaylists.size()) - 1);
    }
    QList<std::shared_ptr<ITPlaylist>> playlists;
    if (!findPodcastPlaylists(playlists))
        return scope.ret(CallFailed);
    for (const auto &playlist : std::as_const(playlists)) {
        QString name;
        retryString(name, [&](QString &aOut) { return playlist->Name(aOut); });
        TrackList episodes;
        TrackList drmEpisodes;
        LocalPlaylist all;
        all.mName = name;
        qint64 size = 0;
        log.text("Getting all tracks");
        if (readTracks(playlist, episodes, size, false, drmEpisodes, all) != 0)
            return scope.ret(CallFailed);
        log.text("Got all tracks");
        for (const LocalPlaylistEntry &entry : std::as_const(all.mEntries)) {
            log.text("Checking whether to add episode");
            const Track &episode = episodes.at(entry.mTrack);
            const auto target = byName.constFind(episode.mAlbumName);
            if (target == byName.cend())
                continue;
            const int position = aTracks.addTrack(episode);
            aPlaylists[target.value()].mEntries.append(
                LocalPlaylistEntry{position, entry.mDateAdded});
        }
    }
    return scope.ret(0);
}

QString LocalMusicLibrary::generateArtwork(const Track &aTrack)
{
    LogScope scope("LocalMusicLibrary::generateArtwork");
    Logger &log = Logger::instance();
    log.value("aTrack.trackName()", aTrack.mTrackName);
    log.value("aTrack.albumName()", aTrack.mAlbumName);
    log.value("aTrack.artistName()", aTrack.mArtistName);
    const QString folder = QFileInfo(aTrack.mPath).path();
    if (mNoArtworkFolders.contains(folder)) {
        log.value("Exiting becuase localFilePath is already known not to have album art", folder);
        return QString();
    }
    std::shared_ptr<ITPlaylist> music;
    qint64 size = 0;
    const int found = getPlaylist(QString(), music, size);
    if (found != 0) {
        log.value("Failed to get playlist", found);
        return QString();
    }
    std::shared_ptr<ITTrackCollection> results;
    if (ITResult::failed(retryPlain([&] {
            return music->Search(aTrack.mTrackName, ITPlaylist::SearchExactName, results);
        }))) {
        log.text("Failed to get tracks from playlist");
        return QString();
    }
    qint32 count = 0;
    if (results && ITResult::failed(retryPlain([&] { return results->Count(count); }))) {
        log.text("Failed to get playlist count");
        return QString();
    }
    if (!results || count == 0) {
        log.text("Couldn't find track");
        return QString();
    }

    const QString folderPath = AppPaths::dataFolder();
    QString fileName;
    bool saved = false;
    for (qint32 index = 1; index <= count && !saved; ++index) {
        log.value("countTracklist", index);
        std::shared_ptr<ITTrack> result;
        if (ITResult::failed(
                retryPointer(result, [&](auto &aOut) { return results->Item(index, aOut); }))) {
            log.text("Error getting track");
            continue;
        }
        QString name, artist, album;
        HResult code = retryString(name, [&](QString &aOut) { return result->Name(aOut); });
        if (ITResult::failed(code))
            log.value("Error getting name", code);
        code = retryString(artist, [&](QString &aOut) { return result->Artist(aOut); });
        if (ITResult::failed(code))
            log.value("Error getting artist", code);
        code = retryString(album, [&](QString &aOut) { return result->Album(aOut); });
        if (ITResult::failed(code))
            log.value("Error getting album", code);
        if (name != aTrack.mTrackName || album != aTrack.mAlbumName || artist != aTrack.mArtistName)
            continue;
        log.text("Matching track found");
        std::shared_ptr<ITArtworkCollection> artworks;
        if (ITResult::failed(
                retryPointer(artworks, [&](auto &aOut) { return result->Artwork(aOut); }))) {
            log.text("Error getting artwork collection");
            log.text("Could not get artwork collection.");
            continue;
        }
        qint32 artworkCount = 0;
        if (ITResult::failed(retryPlain([&] { return artworks->Count(artworkCount); })))
            continue;
        for (qint32 item = 1; item <= artworkCount && !saved; ++item) {
            log.text("Getting artwork item");
            std::shared_ptr<ITArtwork> artwork;
            if (ITResult::failed(
                    retryPointer(artwork, [&](auto &aOut) { return artworks->Item(item, aOut); })))
                continue;
            fileName = folderPath;
            log.value("artworkFileName", fileName);
            qint32 format = 0;
            if (ITResult::failed(retryPlain([&] { return artwork->Format(format); }))) {
                log.text("get_Format failure");
                log.value("Non-supported artwork type found type:", format);
                continue;
            }
            QLatin1String pictureName;
            switch (format) {
            case ITArtwork::FormatJpeg:
                pictureName = QLatin1String("temp_art.jpg");
                break;
            case ITArtwork::FormatPng:
                pictureName = QLatin1String("temp_art.png");
                break;
            case ITArtwork::FormatBmp:
                pictureName = QLatin1String("temp_art.bmp");
                break;
            default:
                log.text("Unknown format");
                log.value("Non-supported artwork type found type:", format);
                continue;
            }
            fileName = folderPath + QLatin1Char('/') + pictureName;
            saved = true;
            QDir().mkpath(folderPath);
            if (ITResult::failed(
                    retryPlain([&] { return artwork->SaveArtworkToFile(fileName); }))) {
                log.text("Failed to save artwork");
                saved = false;
            }
        }
    }
    if (!saved) {
        fileName.clear();
        log.text("No supported artwork found - resetting artworkFileName");
        mNoArtworkFolders.insert(folder);
    }
    return fileName;
}

HResult LocalMusicLibrary::listenForITunesEvents()
{
    LogScope scope("LocalMusicLibrary::listenForITunesEvents");
    // Watching the file needs no read of it: a library being rewritten, or one
    // that stays broken, must not hold up the caller (the window's thread).
    if (std::unique_ptr<ITEventConnection> watched =
            mFactory->watch([this] { OnITunesEventInvoke(); })) {
        mEventSink = std::move(watched);
        return ITResult::Ok;
    }
    std::shared_ptr<ITunesApp> app;
    const HResult result = createApp(app);
    if (ITResult::failed(result))
        Logger::instance().text("Failure creating iTunesApp");
    std::unique_ptr<ITEventConnection> sink;
    if (app)
        app->Advise([this] { OnITunesEventInvoke(); }, sink);
    // Replacing the old sink ends its subscription, so events are never doubled.
    mEventSink = std::move(sink);
    return result;
}

int LocalMusicLibrary::OnITunesEventInvoke()
{
    Q_EMIT localLibraryEvent();
    return 0;
}
