#include "sync/syncsession.h"

#include "core/logger.h"
#include "core/tracklist.h"
#include "sync/musicsync.h"
#include "sync/syncanswerer.h"

#include <QCoreApplication>
#include <QEventLoop>

QString SyncSession::Summary::text() const
{
    return QStringLiteral("copied %1, deleted %2, not copied %3, not deleted %4")
        .arg(mCopied)
        .arg(mDeleted)
        .arg(mNotCopied)
        .arg(mNotDeleted);
}

SyncSession::SyncSession(LocalMusicLibrary &aLibrary, std::shared_ptr<Device> aDevice,
                         SyncAnswerer &aAnswerer, QObject *aParent)
    : QObject(aParent), mDevice(std::move(aDevice)), mAnswerer(aAnswerer),
      mSync(std::make_unique<MusicSync>(&aLibrary, mDevice.get()))
{
    connect(
        mSync.get(), qOverload<int, int>(&MusicSync::ProgressUpdate), this,
        [this](int aState, int aPercent) {
            Q_EMIT stateChanged(aState, aPercent, stateText(aState));
        },
        Qt::QueuedConnection);
    connect(mSync.get(), qOverload<int, int, QString>(&MusicSync::ProgressUpdate), this,
            &SyncSession::progress, Qt::QueuedConnection);
    // The run waits on its thread until the question is answered here.
    connect(mSync.get(), &MusicSync::ConfirmDeleteTracks, this, &SyncSession::onConfirmDelete,
            Qt::BlockingQueuedConnection);
    connect(mSync.get(), &MusicSync::DrmTracksFound, this, &SyncSession::onDrmTracks,
            Qt::BlockingQueuedConnection);
    connect(mSync.get(), &MusicSync::notEnoughSpace, this, &SyncSession::onNotEnoughSpace,
            Qt::BlockingQueuedConnection);
    connect(mSync.get(), &MusicSync::runFinished, this, &SyncSession::onRunFinished,
            Qt::QueuedConnection);
}

SyncSession::~SyncSession() = default;

void SyncSession::start(bool aForceFullResync)
{
    LogScope scope("SyncSession::start");
    mFinalState = 0;
    mSync->StartInNewThread(aForceFullResync);
}

int SyncSession::exec(bool aForceFullResync)
{
    QEventLoop loop;
    connect(this, &SyncSession::finished, &loop, &QEventLoop::quit);
    start(aForceFullResync);
    if (mFinalState == 0)
        loop.exec();
    mSync->wait();
    // Reports queued before the end are still owed to the front end.
    QCoreApplication::sendPostedEvents(this);
    return mFinalState;
}

void SyncSession::cancel()
{
    mSync->Cancel();
}

bool SyncSession::isRunning() const
{
    return mSync->isRunning();
}

const TrackList &SyncSession::notCopied() const
{
    return mSync->GetNonCopiedTracks();
}

const TrackList &SyncSession::notDeleted() const
{
    return mSync->GetNonDeletedTracks();
}

const QStringList &SyncSession::phoneDataFailures() const
{
    return mSync->phoneDataFailures();
}

QString SyncSession::failureReason() const
{
    return mSync->failureReason();
}

SyncSession::Summary SyncSession::summary() const
{
    Summary summary;
    summary.mNotCopied = notCopied().count();
    summary.mNotDeleted = notDeleted().count();
    summary.mCopied = mSync->copiedCount() - summary.mNotCopied;
    const TrackList &toDelete = mSync->TracksToDelete();
    for (int i = 0; i < toDelete.count(); ++i)
        summary.mDeleted += toDelete.at(i).mOnRemoteDevice ? 0 : 1;
    return summary;
}

QString SyncSession::stateText(int aState)
{
    switch (aState) {
    case MusicSync::StateFinished:
        return QStringLiteral("Phone synchronization is complete");
    case MusicSync::StateFailed:
        return QStringLiteral("Errors detected");
    case MusicSync::StateNotConfigured:
        return QStringLiteral("The phone is not configured");
    case MusicSync::StateSettingsUnreadable:
        return QStringLiteral("The settings file cannot be opened");
    case MusicSync::StateCancelled:
        return QStringLiteral("Phone synchronization was cancelled");
    case MusicSync::StatePreparing:
        return QStringLiteral("Preparing to synchronize");
    case MusicSync::StateUpdatingAlbumArt:
        return QStringLiteral("Checking for album art");
    case MusicSync::StateDeleting:
        return QStringLiteral("Deleting tracks from the phone");
    case MusicSync::StateCopying:
        return QStringLiteral("Copying tracks to the phone");
    case MusicSync::StateUpdatingPlaylists:
        return QStringLiteral("Updating playlists");
    default:
        return QString();
    }
}

QString SyncSession::describeTrack(const QString &aName, const QString &aArtist,
                                   const QString &aAlbum)
{
    QStringList parts;
    for (const QString &part : {aArtist, aAlbum, aName}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QStringLiteral(" - "));
}

void SyncSession::onConfirmDelete()
{
    mSync->setDeleteConfirmed(mAnswerer.confirmDelete(mSync->TracksToDelete()));
}

void SyncSession::onDrmTracks()
{
    mAnswerer.drmTracksFound(mSync->GetDrmTracks());
}

void SyncSession::onNotEnoughSpace(qint64 aBytes)
{
    if (!mAnswerer.continueWithoutSpace(aBytes))
        mSync->Cancel();
}

void SyncSession::onRunFinished(int aState)
{
    mFinalState = aState;
    Q_EMIT finished(aState);
}
