#pragma once

#include <QObject>
#include <QString>

#include <memory>

class Device;
class LocalMusicLibrary;
class MusicSync;
class SyncAnswerer;
class TrackList;

// One synchronisation as a front end sees it: owns the run, relays its states
// and progress on the session's thread, puts its questions to the answerer and
// sums up the outcome. The window and mobrelay-sync both drive runs through it.
class SyncSession : public QObject
{
    Q_OBJECT
public:
    struct Summary
    {
        int mCopied = 0;
        int mDeleted = 0;
        int mNotCopied = 0;
        int mNotDeleted = 0;
        QString text() const;
    };

    // The session keeps the device for the whole run, whatever happens to the
    // list it came from.
    SyncSession(LocalMusicLibrary &aLibrary, std::shared_ptr<Device> aDevice,
                SyncAnswerer &aAnswerer, QObject *aParent = nullptr);
    ~SyncSession() override;

    // Starts the run; finished follows in every case.
    void start(bool aForceFullResync);
    // Starts the run and returns its final state once it has ended and every
    // report has been delivered.
    int exec(bool aForceFullResync);
    // From any thread.
    void cancel();

    bool isRunning() const;
    // 0 until the run has ended.
    int finalState() const { return mFinalState; }
    Device &device() const { return *mDevice; }
    const MusicSync &run() const { return *mSync; }
    const TrackList &notCopied() const;
    const TrackList &notDeleted() const;
    QString failureReason() const;
    const QStringList &phoneDataFailures() const;
    Summary summary() const;

    static QString stateText(int aState);
    // "Artist - Album - Name", leaving out what is empty.
    static QString describeTrack(const QString &aName, const QString &aArtist,
                                 const QString &aAlbum);

Q_SIGNALS:
    void stateChanged(int aState, int aPercent, const QString &aText);
    void progress(int aState, int aPercent, const QString &aTrackName);
    void finished(int aFinalState);

private:
    void onConfirmDelete();
    void onDrmTracks();
    void onNotEnoughSpace(qint64 aBytes);
    void onRunFinished(int aState);

    std::shared_ptr<Device> mDevice;
    SyncAnswerer &mAnswerer;
    std::unique_ptr<MusicSync> mSync;
    int mFinalState = 0;
};
