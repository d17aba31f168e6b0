#pragma once

#include "syncclioptions.h"

#include <QObject>
#include <QString>

#include <cstdio>

class Device;
class LocalMusicLibrary;
class MusicSync;
class TrackList;

// Runs one synchronisation on the terminal: prints each state change and
// progress report as one line, answers the run's questions from the options
// (or the user), cancels on Ctrl-C and turns the outcome into an exit status.
class SyncRunner : public QObject
{
    Q_OBJECT
public:
    SyncRunner(LocalMusicLibrary &aLibrary, Device &aDevice, const SyncCliOptions &aOptions,
               QObject *aParent = nullptr);

    // Runs the event loop until the run has ended; returns the exit status.
    int run();

    static QString stateText(int aState);
    static QString describeTrack(const QString &aName, const QString &aArtist,
                                 const QString &aAlbum);

private Q_SLOTS:
    void onState(int aState, int aPercent);
    void onProgress(int aState, int aPercent, const QString &aText);
    void onConfirmDelete();
    void onDrmTracks();
    void onNotEnoughSpace(qint64 aBytes);

private:
    bool askOnTerminal(int aCount);
    void printTracks(FILE *aStream, const QString &aPrefix, const TrackList &aTracks);
    int exitStatus(int aFinalState, bool aBusyTimeout);

    LocalMusicLibrary &mLibrary;
    Device &mDevice;
    const SyncCliOptions &mOptions;
    MusicSync *mSync = nullptr;
    int mLastState = -1;
};
