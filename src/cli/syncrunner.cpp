#include "syncrunner.h"

#include "core/logger.h"
#include "core/tracklist.h"
#include "devices/device.h"
#include "interrupts.h"
#include "library/localmusiclibrary.h"
#include "librarybusywatch.h"
#include "sync/musicsync.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <iostream>
#include <string>
#include <unistd.h>

namespace {
constexpr int InterruptPollMs = 50;

void printLine(FILE *aStream, const QString &aLine)
{
    const QByteArray bytes = aLine.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), aStream);
    // Scripts and tests follow the run line by line.
    std::fflush(aStream);
}
} // namespace

SyncRunner::SyncRunner(LocalMusicLibrary &aLibrary, Device &aDevice, const SyncCliOptions &aOptions,
                       QObject *aParent)
    : QObject(aParent), mLibrary(aLibrary), mDevice(aDevice), mOptions(aOptions)
{}

QString SyncRunner::stateText(int aState)
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

QString SyncRunner::describeTrack(const QString &aName, const QString &aArtist,
                                  const QString &aAlbum)
{
    QStringList parts;
    for (const QString &part : {aArtist, aAlbum, aName}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QStringLiteral(" - "));
}

void SyncRunner::printTracks(FILE *aStream, const QString &aPrefix, const TrackList &aTracks)
{
    for (int i = 0; i < aTracks.count(); ++i) {
        const Track &track = aTracks.at(i);
        printLine(aStream,
                  aPrefix + describeTrack(track.mTrackName, track.mArtistName, track.mAlbumName));
    }
}

void SyncRunner::onState(int aState, int aPercent)
{
    mLastState = aState;
    printLine(stdout,
              QStringLiteral("state %1 %2% %3").arg(aState).arg(aPercent).arg(stateText(aState)));
    if (aState == MusicSync::StateNotConfigured || aState == MusicSync::StateSettingsUnreadable)
        printLine(stderr, QStringLiteral("mobrelay-sync: this phone is not configured; run "
                                         "'mobrelay-sync configure DIR' first"));
}

void SyncRunner::onProgress(int aState, int aPercent, const QString &aText)
{
    mLastState = aState;
    printLine(stdout, QStringLiteral("progress %1 %2% %3").arg(aState).arg(aPercent).arg(aText));
}

bool SyncRunner::askOnTerminal(int aCount)
{
    const QString question =
        QStringLiteral("Delete these %1 tracks from the phone? [y/N] ").arg(aCount);
    std::fputs(question.toUtf8().constData(), stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    const QString reply = QString::fromStdString(answer).trimmed().toLower();
    return reply == QLatin1String("y") || reply == QLatin1String("yes");
}

void SyncRunner::onConfirmDelete()
{
    const TrackList &tracks = mSync->TracksToDelete();
    const int count = tracks.count();
    bool confirmed = false;
    switch (mOptions.mDelete) {
    case SyncCliOptions::Answer::Yes:
        confirmed = true;
        printLine(stdout, QStringLiteral("delete: %1 tracks (confirmed by --yes)").arg(count));
        break;
    case SyncCliOptions::Answer::No:
        printLine(stdout, QStringLiteral("delete: %1 tracks refused (--no-delete)").arg(count));
        break;
    case SyncCliOptions::Answer::Ask:
        if (::isatty(STDIN_FILENO)) {
            printTracks(stderr, QStringLiteral("  "), tracks);
            confirmed = !Interrupts::raised() && askOnTerminal(count);
        } else {
            printLine(stderr, QStringLiteral("mobrelay-sync: %1 tracks would be deleted from the "
                                             "phone; there is no terminal to ask, so nothing is "
                                             "deleted (give --yes or --no-delete)")
                                  .arg(count));
        }
        printLine(stdout,
                  QStringLiteral("delete: %1 tracks %2")
                      .arg(count)
                      .arg(confirmed ? QStringLiteral("(confirmed)") : QStringLiteral("refused")));
        break;
    }
    mSync->setDeleteConfirmed(confirmed);
}

void SyncRunner::onDrmTracks()
{
    printTracks(stdout, QStringLiteral("copy-protected, not copied: "), mSync->GetDrmTracks());
}

void SyncRunner::onNotEnoughSpace(qint64 aBytes)
{
    const qint64 megabytes = aBytes / 1024 / 1024;
    if (mOptions.mAllowLowSpace) {
        printLine(
            stdout,
            QStringLiteral("space: %1 MB short; going on (--allow-low-space)").arg(megabytes));
        return;
    }
    printLine(stdout, QStringLiteral("space: %1 MB short; cancelled").arg(megabytes));
    printLine(stderr, QStringLiteral("mobrelay-sync: not enough space on the phone: free up %1 MB, "
                                     "or give --allow-low-space to copy what fits")
                          .arg(megabytes));
    mSync->Cancel();
}

int SyncRunner::exitStatus(int aFinalState, bool aBusyTimeout)
{
    const TrackList &notCopied = mSync->GetNonCopiedTracks();
    const TrackList &notDeleted = mSync->GetNonDeletedTracks();
    printTracks(stderr, QStringLiteral("not copied: "), notCopied);
    printTracks(stderr, QStringLiteral("not deleted: "), notDeleted);
    const TrackList &toDelete = mSync->TracksToDelete();
    int deleted = 0;
    for (int i = 0; i < toDelete.count(); ++i)
        deleted += toDelete.at(i).mOnRemoteDevice ? 0 : 1;
    printLine(stdout,
              QStringLiteral("summary: copied %1, deleted %2, not copied %3, not deleted %4")
                  .arg(mSync->copiedCount() - notCopied.count())
                  .arg(deleted)
                  .arg(notCopied.count())
                  .arg(notDeleted.count()));
    if (aBusyTimeout) {
        printLine(stderr, QStringLiteral("mobrelay-sync: the library stayed busy for more than %1 "
                                         "seconds; the run was cancelled")
                              .arg(mOptions.mWaitSeconds));
        return ExitCode::TemporaryFailure;
    }
    if (aFinalState == MusicSync::StateFailed && !mSync->failureReason().isEmpty())
        printLine(stderr, QStringLiteral("mobrelay-sync: ") + mSync->failureReason());
    if (aFinalState != MusicSync::StateFinished)
        return ExitCode::RunFailed;
    return notCopied.isEmpty() && notDeleted.isEmpty() ? ExitCode::Success : ExitCode::Incomplete;
}

int SyncRunner::run()
{
    LogScope scope("SyncRunner::run");
    MusicSync sync(&mLibrary, &mDevice);
    mSync = &sync;
    connect(&sync, qOverload<int, int>(&MusicSync::ProgressUpdate), this, &SyncRunner::onState,
            Qt::QueuedConnection);
    connect(&sync, qOverload<int, int, QString>(&MusicSync::ProgressUpdate), this,
            &SyncRunner::onProgress, Qt::QueuedConnection);
    connect(&sync, &MusicSync::ConfirmDeleteTracks, this, &SyncRunner::onConfirmDelete,
            Qt::BlockingQueuedConnection);
    connect(&sync, &MusicSync::DrmTracksFound, this, &SyncRunner::onDrmTracks,
            Qt::BlockingQueuedConnection);
    connect(&sync, &MusicSync::notEnoughSpace, this, &SyncRunner::onNotEnoughSpace,
            Qt::BlockingQueuedConnection);

    QEventLoop loop;
    int finalState = -1;
    connect(
        &sync, &MusicSync::runFinished, &loop,
        [&](int aState) {
            finalState = aState;
            loop.quit();
        },
        Qt::QueuedConnection);

    bool cancelling = false;
    QTimer interrupts;
    connect(&interrupts, &QTimer::timeout, &loop, [&] {
        if (cancelling || !Interrupts::raised())
            return;
        cancelling = true;
        printLine(stderr, QStringLiteral("mobrelay-sync: cancelling..."));
        sync.Cancel();
    });
    interrupts.start(InterruptPollMs);

    int result = 0;
    {
        LibraryBusyWatch busy(mLibrary, mOptions.mWaitSeconds, [&sync] { sync.Cancel(); });
        sync.StartInNewThread(mOptions.mForceFull);
        loop.exec();
        sync.wait();
        // Reports queued before the end are still owed to the user.
        QCoreApplication::sendPostedEvents(this);
        result = exitStatus(finalState, busy.timedOut());
    }
    mSync = nullptr;
    return scope.ret(result);
}
