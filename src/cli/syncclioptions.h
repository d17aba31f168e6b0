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
// Another Mobrelay program (the window or a second mobrelay-sync) is synchronising.
constexpr int Busy = 69;
constexpr int CannotCreate = 73;
constexpr int TemporaryFailure = 75;
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
        Export
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
