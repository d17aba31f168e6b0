#include "library/snapshotitunesapp.h"

#include "library/itfileorcdtrack.h"
#include "library/ituserplaylist.h"

#include <QFile>
#include <QHash>
#include <QMutex>

namespace {

using Services = SnapshotITunesApp::Services;
using ServicesPtr = std::shared_ptr<const Services>;

bool scripted(const Services &aServices, const char *aCall, const QString &aObject,
              HResult &aResult)
{
    bool isNull = false;
    return aServices.mInterceptor && aServices.mInterceptor->take(aCall, aObject, aResult, isNull);
}

template <typename T> class ListCollection : public ITCollection<T>
{
public:
    using Maker = std::function<std::shared_ptr<T>(qint32 aIndex)>;

    ListCollection(ServicesPtr aServices, const char *aName, qint32 aCount, Maker aMaker)
        : mServices(std::move(aServices)), mName(aName), mCount(aCount), mMaker(std::move(aMaker))
    {}

    HResult Count(qint32 &aCount) override
    {
        aCount = 0;
        HResult result;
        if (mServices->mInterceptor && scripted(*mServices, countCall(), QString(), result))
            return result;
        aCount = mCount;
        return ITResult::Ok;
    }

    HResult Item(qint32 aIndex, std::shared_ptr<T> &aItem) override
    {
        aItem.reset();
        HResult result;
        if (mServices->mInterceptor &&
            scripted(*mServices, itemCall(), QString::number(aIndex), result))
            return result;
        if (aIndex < 1 || aIndex > mCount)
            return ITResult::InvalidArg;
        aItem = mMaker(aIndex - 1);
        return ITResult::Ok;
    }

private:
    const char *countCall() const { return mCountCall.c_str(); }
    const char *itemCall() const { return mItemCall.c_str(); }

    ServicesPtr mServices;
    const char *mName;
    qint32 mCount;
    Maker mMaker;
    std::string mCountCall = std::string(mName) + ".Count";
    std::string mItemCall = std::string(mName) + ".Item";
};

class SnapshotArtwork : public ITArtwork
{
public:
    SnapshotArtwork(ServicesPtr aServices, LibrarySnapshot::Artwork aArtwork)
        : mServices(std::move(aServices)), mArtwork(std::move(aArtwork))
    {}

    HResult Format(qint32 &aFormat) override
    {
        aFormat = 0;
        HResult result;
        if (scripted(*mServices, "Artwork.Format", QString(), result))
            return result;
        aFormat = mArtwork.mFormat;
        return ITResult::Ok;
    }

    HResult SaveArtworkToFile(const QString &aPath) override
    {
        HResult result;
        if (scripted(*mServices, "Artwork.Save", aPath, result))
            return result;
        QFile file(aPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(mArtwork.mData) != mArtwork.mData.size())
            return ITResult::Fail;
        return ITResult::Ok;
    }

private:
    ServicesPtr mServices;
    LibrarySnapshot::Artwork mArtwork;
};

class SnapshotFileTrack : public ITFileOrCDTrack
{
public:
    SnapshotFileTrack(ServicesPtr aServices, qint32 aTrack)
        : mServices(std::move(aServices)), mTrack(aTrack)
    {}

    HResult Location(QString &aLocation) override
    {
        aLocation = QString();
        HResult result;
        if (scripted(*mServices, "FileTrack.Location", record().mName, result))
            return result;
        aLocation = mServices->mSnapshot->localPath(record());
        return ITResult::Ok;
    }

    HResult DateAdded(double &aDate) override
    {
        aDate = 0;
        HResult result;
        if (scripted(*mServices, "FileTrack.DateAdded", record().mName, result))
            return result;
        aDate = record().mDateAdded;
        return ITResult::Ok;
    }

private:
    const LibrarySnapshot::TrackRecord &record() const
    {
        return mServices->mSnapshot->mTracks.at(mTrack);
    }

    ServicesPtr mServices;
    qint32 mTrack;
};

class SnapshotTrack : public ITTrack
{
public:
    SnapshotTrack(ServicesPtr aServices, qint32 aTrack)
        : mServices(std::move(aServices)), mTrack(aTrack)
    {}

    HResult Name(QString &aName) override { return text("Track.Name", aName, record().mName); }
    HResult Album(QString &aAlbum) override { return text("Track.Album", aAlbum, record().mAlbum); }
    HResult Artist(QString &aArtist) override
    {
        return text("Track.Artist", aArtist, record().mArtist);
    }
    HResult Size(qint64 &aSize) override { return number("Track.Size", aSize, record().mSize); }
    HResult Compilation(bool &aCompilation) override
    {
        return number("Track.Compilation", aCompilation, record().mCompilation);
    }
    HResult TrackNumber(qint32 &aNumber) override
    {
        return number("Track.TrackNumber", aNumber, record().mTrackNumber);
    }

    HResult Artwork(std::shared_ptr<ITArtworkCollection> &aArtwork) override
    {
        aArtwork.reset();
        HResult result;
        if (scripted(*mServices, "Track.Artwork", record().mName, result))
            return result;
        QList<LibrarySnapshot::Artwork> pictures;
        if (mServices->mArtwork) {
            if (record().isFile())
                pictures = mServices->mArtwork(mServices->mSnapshot->localPath(record()));
        } else {
            pictures = record().mArtwork;
        }
        auto services = mServices;
        aArtwork = std::make_shared<ListCollection<ITArtwork>>(
            mServices, "ArtworkCollection", qint32(pictures.size()),
            [services, pictures](qint32 aIndex) {
                return std::make_shared<SnapshotArtwork>(services, pictures.at(aIndex));
            });
        return ITResult::Ok;
    }

    HResult QueryFileTrack(std::shared_ptr<ITFileOrCDTrack> &aFileTrack) override
    {
        aFileTrack.reset();
        HResult result;
        if (scripted(*mServices, "Track.QueryFileTrack", record().mName, result))
            return result;
        if (!record().isFile())
            return ITResult::NoInterface;
        aFileTrack = std::make_shared<SnapshotFileTrack>(mServices, mTrack);
        return ITResult::Ok;
    }

private:
    const LibrarySnapshot::TrackRecord &record() const
    {
        return mServices->mSnapshot->mTracks.at(mTrack);
    }

    HResult text(const char *aCall, QString &aOut, const QString &aValue)
    {
        aOut = QString();
        HResult result;
        if (scripted(*mServices, aCall, record().mName, result))
            return result;
        aOut = aValue;
        return ITResult::Ok;
    }

    template <typename T, typename V> HResult number(const char *aCall, T &aOut, V aValue)
    {
        aOut = T();
        HResult result;
        if (scripted(*mServices, aCall, record().mName, result))
            return result;
        aOut = T(aValue);
        return ITResult::Ok;
    }

    ServicesPtr mServices;
    qint32 mTrack;
};

std::shared_ptr<ITTrackCollection> makeTracks(const ServicesPtr &aServices,
                                              const QList<qint32> &aTracks)
{
    return std::make_shared<ListCollection<ITTrack>>(
        aServices, "TrackCollection", qint32(aTracks.size()), [aServices, aTracks](qint32 aIndex) {
            return std::make_shared<SnapshotTrack>(aServices, aTracks.at(aIndex));
        });
}

class SnapshotUserPlaylist : public ITUserPlaylist
{
public:
    SnapshotUserPlaylist(ServicesPtr aServices, qint32 aPlaylist)
        : mServices(std::move(aServices)), mPlaylist(aPlaylist)
    {}

    HResult SpecialKind(qint32 &aKind) override
    {
        aKind = 0;
        const auto &playlist = mServices->mSnapshot->mPlaylists.at(mPlaylist);
        HResult result;
        if (scripted(*mServices, "UserPlaylist.SpecialKind", playlist.mName, result))
            return result;
        aKind = playlist.mSpecialKind;
        return ITResult::Ok;
    }

private:
    ServicesPtr mServices;
    qint32 mPlaylist;
};

class SnapshotPlaylist : public ITPlaylist
{
public:
    SnapshotPlaylist(ServicesPtr aServices, qint32 aPlaylist)
        : mServices(std::move(aServices)), mPlaylist(aPlaylist)
    {}

    HResult Name(QString &aName) override
    {
        aName = QString();
        HResult result;
        if (scripted(*mServices, "Playlist.Name", record().mName, result))
            return result;
        aName = record().mName;
        return ITResult::Ok;
    }

    HResult Kind(qint32 &aKind) override
    {
        aKind = 0;
        HResult result;
        if (scripted(*mServices, "Playlist.Kind", record().mName, result))
            return result;
        aKind = record().mKind;
        return ITResult::Ok;
    }

    HResult Size(double &aSize) override
    {
        aSize = 0;
        HResult result;
        if (scripted(*mServices, "Playlist.Size", record().mName, result))
            return result;
        aSize = double(mServices->mSnapshot->playlistSize(record()));
        return ITResult::Ok;
    }

    HResult Tracks(std::shared_ptr<ITTrackCollection> &aTracks) override
    {
        aTracks.reset();
        HResult result;
        if (scripted(*mServices, "Playlist.Tracks", record().mName, result))
            return result;
        aTracks = makeTracks(mServices, record().mTracks);
        return ITResult::Ok;
    }

    HResult Search(const QString &aText, qint32 aField,
                   std::shared_ptr<ITTrackCollection> &aTracks) override
    {
        aTracks.reset();
        HResult result;
        if (scripted(*mServices, "Playlist.Search", record().mName, result))
            return result;
        if (aField == SearchExactName) {
            const QList<qint32> named = byName(aText);
            if (!named.isEmpty())
                aTracks = makeTracks(mServices, named);
            return ITResult::Ok;
        }
        if (aField != SearchAll)
            return ITResult::InvalidArg;
        QList<qint32> found;
        for (qint32 index : record().mTracks) {
            const auto &track = mServices->mSnapshot->mTracks.at(index);
            if (track.mName.contains(aText, Qt::CaseInsensitive) ||
                track.mAlbum.contains(aText, Qt::CaseInsensitive) ||
                track.mArtist.contains(aText, Qt::CaseInsensitive))
                found.append(index);
        }
        if (!found.isEmpty())
            aTracks = makeTracks(mServices, found);
        return ITResult::Ok;
    }

    HResult QueryUserPlaylist(std::shared_ptr<ITUserPlaylist> &aUserPlaylist) override
    {
        aUserPlaylist.reset();
        HResult result;
        if (scripted(*mServices, "Playlist.QueryUserPlaylist", record().mName, result))
            return result;
        if (record().mKind != KindUser)
            return ITResult::NoInterface;
        aUserPlaylist = std::make_shared<SnapshotUserPlaylist>(mServices, mPlaylist);
        return ITResult::Ok;
    }

private:
    const LibrarySnapshot::PlaylistRecord &record() const
    {
        return mServices->mSnapshot->mPlaylists.at(mPlaylist);
    }

    QList<qint32> byName(const QString &aName) const
    {
        // Kept for the newest snapshot: an app, and so this playlist, lasts
        // one call, while the snapshot serves a whole run.
        static QMutex lock;
        static std::weak_ptr<const LibrarySnapshot> indexed;
        static QHash<qint32, QHash<QString, QList<qint32>>> byPlaylist;
        const QMutexLocker locker(&lock);
        const std::shared_ptr<const LibrarySnapshot> &snapshot = mServices->mSnapshot;
        if (indexed.owner_before(snapshot) || snapshot.owner_before(indexed) || indexed.expired()) {
            indexed = snapshot;
            byPlaylist.clear();
        }
        auto built = byPlaylist.constFind(mPlaylist);
        if (built == byPlaylist.cend()) {
            QHash<QString, QList<qint32>> names;
            for (qint32 track : record().mTracks)
                names[snapshot->mTracks.at(track).mName].append(track);
            built = byPlaylist.insert(mPlaylist, std::move(names));
        }
        return built->value(aName);
    }

    ServicesPtr mServices;
    qint32 mPlaylist;
};

class SnapshotSource : public ITSource
{
public:
    explicit SnapshotSource(ServicesPtr aServices) : mServices(std::move(aServices)) {}

    HResult Kind(qint32 &aKind) override
    {
        aKind = 0;
        HResult result;
        if (scripted(*mServices, "Source.Kind", QString(), result))
            return result;
        aKind = KindLibrary;
        return ITResult::Ok;
    }

    HResult Playlists(std::shared_ptr<ITPlaylistCollection> &aPlaylists) override
    {
        aPlaylists.reset();
        HResult result;
        if (scripted(*mServices, "Source.Playlists", QString(), result))
            return result;
        auto services = mServices;
        aPlaylists = std::make_shared<ListCollection<ITPlaylist>>(
            mServices, "PlaylistCollection", qint32(mServices->mSnapshot->mPlaylists.size()),
            [services](qint32 aIndex) {
                return std::make_shared<SnapshotPlaylist>(services, aIndex);
            });
        return ITResult::Ok;
    }

private:
    ServicesPtr mServices;
};

} // namespace

SnapshotITunesApp::SnapshotITunesApp(std::shared_ptr<const Services> aServices)
    : mServices(std::move(aServices))
{}

HResult SnapshotITunesApp::Sources(std::shared_ptr<ITSourceCollection> &aSources)
{
    aSources.reset();
    HResult result;
    if (scripted(*mServices, "Sources", QString(), result))
        return result;
    auto services = mServices;
    aSources = std::make_shared<ListCollection<ITSource>>(
        mServices, "SourceCollection", 1,
        [services](qint32) { return std::make_shared<SnapshotSource>(services); });
    return ITResult::Ok;
}

HResult SnapshotITunesApp::Advise(std::function<void()> aHandler,
                                  std::unique_ptr<ITEventConnection> &aConnection)
{
    aConnection.reset();
    HResult result;
    if (scripted(*mServices, "Advise", QString(), result))
        return result;
    if (!mServices->mEvents)
        return ITResult::NoInterface;
    aConnection = mServices->mEvents(std::move(aHandler));
    return aConnection ? ITResult::Ok : ITResult::Fail;
}
