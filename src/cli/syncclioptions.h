#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Exit statuses of mobrelay-sync (the BSD sysexits values where one fits).
namespace ExitCode {
constexpr int Success = 0;
constexpr int Incomplete = 1;
constexpr int RunFailed = 2;
constexpr int Usage = 64;
// The library file will never parse.
constexpr int DataError = 65;
constexpr int NoInput = 66;
// "sync" or "configure" found no phone to use: none attached, none with the id
// given, or the phone does not answer or lacks the companion app.
constexpr int NoPhone = 69;
constexpr int CannotCreate = 73;
// Try again later: the library stayed busy, or another Mobrelay program (the
// window or a second mobrelay-sync) is synchronising.
constexpr int TemporaryFailure = 75;
constexpr int Busy = TemporaryFailure;
constexpr int Interrupted = 130;
} // namespace ExitCode

// The command line of mobrelay-sync, parsed.
class SyncCliOptions
{
public:
    enum class Command
    {
        None,
        Help,
        Playlists,
        Configure,
        Sync,
        Backups,
        Export,
        Devices
    };
    enum class Answer
    {
        Ask,
        Yes,
        No
    };
    // The music or podcast choice of "configure".
    struct Selection
    {
        bool mAll = false;
        QStringList mNames;
    };

    static constexpr int DefaultWaitSeconds = 30;

    // False with a one-line reason in aError for bad usage.
    bool parse(const QStringList &aArguments, QString &aError);
    static QString usage();

    Command mCommand = Command::None;
    QString mLibraryFile;
    QString mPhoneFolder;
    // A phone named by the id that "devices" prints, in place of a folder.
    QString mPhoneId;
    // Where the phones are looked for; empty means the system's own.
    QString mMountTable;
    QString mSysfsRoot;
    // "backups": folders to search besides the usual ones; "export": the backup.
    QStringList mBackupFolders;
    QString mBackupPath;
    QString mOutputFolder;
    int mWaitSeconds = DefaultWaitSeconds;

    Selection mPlaylists{true, {}};
    Selection mPodcasts{false, {}};
    int mEpisodes = 0;
    bool mAlbumArt = true;
    // Unset means: the same as mAlbumArt.
    int mAlbumArtExisting = -1;
    bool mConvertToMp3 = false;
    // The old phone's backup and what to carry from it: "messages", "contacts", "photos".
    QString mDataBackup;
    QStringList mCopy;
    QStringList mPhotoFolders;

    Answer mDelete = Answer::Ask;
    bool mForceFull = false;
    bool mAllowLowSpace = false;
    // Reported free space of the phone folder in bytes; -1 means the real one.
    qint64 mFreeSpace = -1;

private:
    bool parseOption(const QString &aName, const QStringList &aArguments, int &aIndex,
                     QString &aError);
};
