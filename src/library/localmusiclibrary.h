#pragma once

#include "core/localplaylist.h"
#include "library/itplaylist.h"
#include "library/itunesappfactory.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class ITEventConnection;

class LocalLibraryInitialiseThread;
class Track;
class TrackList;

// The program's gateway to the music library. Every call into the library goes
// through one retry rule: a busy library is waited for without limit, other
// failures are tried nine times.
// Cancellation: setCancelled(true) from any thread ends every wait; the operation then fails.
class LocalMusicLibrary : public QObject
{
    Q_OBJECT
public:
    static constexpr int CallFailed = -8000;
    static constexpr int PlaylistNotFound = -8001;
    static constexpr int NoObject = -8002;
    static constexpr int DefaultRetryPauseMs = 250;

    explicit LocalMusicLibrary(QObject *aParent = nullptr);
    explicit LocalMusicLibrary(std::shared_ptr<ITunesAppFactory> aFactory,
                               QObject *aParent = nullptr);
    ~LocalMusicLibrary() override;

    void initialiseInNewThread();
    void initialise();
    bool isInitialised() const { return mInitialised.load() != 0; }

    int getPlaylistCollection(std::shared_ptr<ITPlaylistCollection> &aCollection);
    int getPlaylist(const QString &aName, std::shared_ptr<ITPlaylist> &aPlaylist, qint64 &aSize);
    int getAllTracks(const QString &aName, TrackList &aTracks, qint64 &aSize, bool aConvertToMp3,
                     TrackList &aDrmTracks, LocalPlaylist &aLocalPlaylist);
    // True when the names changed. A listing that could not be read completely
    // sets aResult to CallFailed; playlists() is then not to be trusted.
    bool refreshPlaylists(int *aResult = nullptr);
    int refreshPodcasts();
    // Fails, rather than leave out episodes, when any Podcasts playlist cannot be read.
    int getPodcasts(const QStringList &aNames, QList<LocalPlaylist> &aPlaylists,
                    TrackList &aTracks);
    QString generateArtwork(const Track &aTrack);
    HResult listenForITunesEvents();
    int OnITunesEventInvoke();

    QStringList playlists() const { return mPlaylists; }
    QStringList podcasts() const { return mPodcasts; }
    QSet<QString> noArtworkFolders() const { return mNoArtworkFolders; }
    // For workers that read the library with an object of their own.
    std::shared_ptr<ITunesAppFactory> factory() const { return mFactory; }

    void setCancelled(bool aCancelled);
    bool isCancelled() const { return mCancelled.load(); }
    // Tests shorten the pause between tries.
    void setRetryPause(int aMilliseconds) { mRetryPauseMs = aMilliseconds; }

Q_SIGNALS:
    void initialisationComplete();
    void iTunesFailure();
    void iTunesOkay();
    void localLibraryEvent();

private:
    bool shouldRetry(HResult &aResult, int &aRetryCounter);
    bool shouldRetryPointer(HResult &aResult, int &aRetryCounter, bool aIsNull);
    bool shouldRetryString(HResult &aResult, int &aRetryCounter, QString &aText);
    template <typename Call> HResult retryPlain(Call &&aCall);
    template <typename T, typename Call>
    HResult retryPointer(std::shared_ptr<T> &aOut, Call &&aCall);
    template <typename Call> HResult retryString(QString &aOut, Call &&aCall);
    HResult createApp(std::shared_ptr<ITunesApp> &aApp);
    void pause();

    // Returns false when the playlist could not be read, which ends the walk.
    using UserPlaylistVisitor =
        std::function<bool(const std::shared_ptr<ITPlaylist> &aPlaylist, qint32 aSpecialKind)>;
    // Walks the library's user playlists in order; false when any of them cannot be read.
    bool forEachUserPlaylist(const UserPlaylistVisitor &aVisit);
    bool findPodcastPlaylists(QList<std::shared_ptr<ITPlaylist>> &aPlaylists);
    int readTracks(const std::shared_ptr<ITPlaylist> &aPlaylist, TrackList &aTracks, qint64 &aSize,
                   bool aConvertToMp3, TrackList &aDrmTracks, LocalPlaylist &aLocalPlaylist);

    std::mutex mPauseLock;
    std::condition_variable mPauseWake;
    QStringList mPlaylists;
    QStringList mPodcasts;
    QStringList mPreviousPlaylists;
    std::atomic<int> mInitialised{0};
    LocalLibraryInitialiseThread *mInitialiseThread;
    std::unique_ptr<ITEventConnection> mEventSink;
    QSet<QString> mNoArtworkFolders;

    std::shared_ptr<ITunesAppFactory> mFactory;
    std::atomic<bool> mCancelled{false};
    std::atomic<bool> mOkayPending{true};
    int mRetryPauseMs = DefaultRetryPauseMs;
};
