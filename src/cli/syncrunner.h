#pragma once

#include "sync/syncanswerer.h"
#include "syncclioptions.h"

#include <QString>

#include <cstdio>
#include <memory>

class Device;
class LocalMusicLibrary;
class SyncSession;

// Runs one synchronisation on the terminal: prints each state change and
// progress report as one line, answers the run's questions from the options
// (or the user), cancels on Ctrl-C and turns the outcome into an exit status.
class SyncRunner : public SyncAnswerer
{
public:
    SyncRunner(LocalMusicLibrary &aLibrary, std::shared_ptr<Device> aDevice,
               const SyncCliOptions &aOptions);

    // Returns the exit status once the run has ended.
    int run();

    bool confirmDelete(const TrackList &aTracks) override;
    void drmTracksFound(const TrackList &aTracks) override;
    bool continueWithoutSpace(qint64 aBytes) override;

private:
    bool askOnTerminal(int aCount);
    void printTracks(FILE *aStream, const QString &aPrefix, const TrackList &aTracks);
    int exitStatus(const SyncSession &aSession, bool aBusyTimeout);

    LocalMusicLibrary &mLibrary;
    std::shared_ptr<Device> mDevice;
    const SyncCliOptions &mOptions;
};
