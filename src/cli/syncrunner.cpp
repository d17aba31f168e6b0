#include "syncrunner.h"

#include "core/logger.h"
#include "core/tracklist.h"
#include "interrupts.h"
#include "librarybusywatch.h"
#include "settings/syncsettings.h"
#include "sync/musicsync.h"
#include "sync/syncsession.h"

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

SyncRunner::SyncRunner(LocalMusicLibrary &aLibrary, std::shared_ptr<Device> aDevice,
                       const SyncCliOptions &aOptions)
    : mLibrary(aLibrary), mDevice(std::move(aDevice)), mOptions(aOptions)
{}

void SyncRunner::printTracks(FILE *aStream, const QString &aPrefix, const TrackList &aTracks)
{
    for (int i = 0; i < aTracks.count(); ++i) {
        const Track &track = aTracks.at(i);
        printLine(aStream, aPrefix + SyncSession::describeTrack(track.mTrackName, track.mArtistName,
                                                                track.mAlbumName));
    }
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

bool SyncRunner::confirmDelete(const TrackList &aTracks)
{
    const int count = aTracks.count();
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
            printTracks(stderr, QStringLiteral("  "), aTracks);
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
    return confirmed;
}

void SyncRunner::drmTracksFound(const TrackList &aTracks)
{
    printTracks(stdout, QStringLiteral("copy-protected, not copied: "), aTracks);
}

bool SyncRunner::continueWithoutSpace(qint64 aBytes)
{
    const qint64 megabytes = aBytes / 1024 / 1024;
    if (mOptions.mAllowLowSpace) {
        printLine(
            stdout,
            QStringLiteral("space: %1 MB short; going on (--allow-low-space)").arg(megabytes));
        return true;
    }
    printLine(stdout, QStringLiteral("space: %1 MB short; cancelled").arg(megabytes));
    printLine(stderr, QStringLiteral("mobrelay-sync: not enough space on the phone: free up %1 MB, "
                                     "or give --allow-low-space to copy what fits")
                          .arg(megabytes));
    return false;
}

int SyncRunner::exitStatus(const SyncSession &aSession, bool aBusyTimeout)
{
    printTracks(stderr, QStringLiteral("not copied: "), aSession.notCopied());
    printTracks(stderr, QStringLiteral("not deleted: "), aSession.notDeleted());
    for (const QString &failure : aSession.phoneDataFailures())
        printLine(stderr, QStringLiteral("not copied from the backup: ") + failure);
    printLine(stdout, QStringLiteral("summary: ") + aSession.summary().text());
    if (aBusyTimeout) {
        printLine(stderr, QStringLiteral("mobrelay-sync: the library stayed busy for more than %1 "
                                         "seconds; the run was cancelled")
                              .arg(mOptions.mWaitSeconds));
        return ExitCode::TemporaryFailure;
    }
    const int finalState = aSession.finalState();
    if (finalState == MusicSync::StateFailed && !aSession.failureReason().isEmpty())
        printLine(stderr, QStringLiteral("mobrelay-sync: ") + aSession.failureReason());
    if (finalState != MusicSync::StateFinished)
        return ExitCode::RunFailed;
    return aSession.notCopied().isEmpty() && aSession.notDeleted().isEmpty() &&
                   aSession.phoneDataFailures().isEmpty()
               ? ExitCode::Success
               : ExitCode::Incomplete;
}

int SyncRunner::run()
{
    LogScope scope("SyncRunner::run");
    SyncSession session(mLibrary, mDevice, *this);
    QObject::connect(
        &session, &SyncSession::stateChanged, [](int aState, int aPercent, const QString &aText) {
            printLine(stdout,
                      QStringLiteral("state %1 %2% %3").arg(aState).arg(aPercent).arg(aText));
            if (aState == MusicSync::StateNotConfigured)
                printLine(stderr, QStringLiteral("mobrelay-sync: this phone is not "
                                                 "configured; run 'mobrelay-sync configure "
                                                 "DIR' first"));
            else if (aState == MusicSync::StateSettingsUnreadable)
                printLine(stderr, QStringLiteral("mobrelay-sync: the settings file "
                                                 "%1 cannot be read")
                                      .arg(SyncSettings::fileName()));
        });
    QObject::connect(
        &session, &SyncSession::progress, [](int aState, int aPercent, const QString &aText) {
            printLine(stdout,
                      QStringLiteral("progress %1 %2% %3").arg(aState).arg(aPercent).arg(aText));
        });

    bool cancelling = false;
    QTimer interrupts;
    QObject::connect(&interrupts, &QTimer::timeout, [&] {
        if (cancelling || !Interrupts::raised())
            return;
        cancelling = true;
        printLine(stderr, QStringLiteral("mobrelay-sync: cancelling..."));
        session.cancel();
    });
    interrupts.start(InterruptPollMs);

    LibraryBusyWatch busy(mLibrary, mOptions.mWaitSeconds, [&session] { session.cancel(); });
    session.exec(mOptions.mForceFull);
    return scope.ret(exitStatus(session, busy.timedOut()));
}
