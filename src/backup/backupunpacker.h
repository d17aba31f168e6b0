#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Unpacks from an iTunes backup folder only what is carried to the new phone:
// the messages database, the address book database and the camera-roll files.
// Reads "Manifest.db" (iOS 10 and later) or "Manifest.mbdb" (iTunes 9.2 and
// later, iOS 4 to 9), and writes "backup_file_list" into the extraction folder:
// two lines per unpacked file, its path and its domain followed by its path on
// the device.
class BackupUnpacker
{
public:
    enum class Status
    {
        Ok,
        NotABackup,         // not a folder, or a folder without Info.plist or manifest
        Encrypted,          // the backup is encrypted: its files cannot be read
        TooOld,             // the ".mdinfo"/".mddata" layout of iOS 3 and earlier
        NoManifest,         // neither Manifest.db nor Manifest.mbdb
        ManifestUnreadable, // a manifest that is damaged or not a manifest
        MissingDataFile,    // unpacked, but some wanted files were not in the backup
        CannotWrite         // the extraction folder or a file in it cannot be written
    };

    struct Entry
    {
        QString mFileId;
        QString mDomain;
        QString mRelativePath;
    };

    static QString fileListName() { return QStringLiteral("backup_file_list"); }
    static QString describe(Status aStatus);
    static bool isBackupFolder(const QString &aPath);

    // Unpacks into aExtractionFolder, which must be empty or missing; the camera
    // roll only with aPhotos, since it can be many gigabytes.
    Status unpack(const QString &aBackupFolder, const QString &aExtractionFolder,
                  bool aPhotos = true);

    QStringList missingFiles() const { return mMissing; }
    int unpackedCount() const { return mUnpacked; }
    QString detail() const { return mDetail; }

    // The manifest rows that matter, in file-list order; exposed for the tests' sake.
    static bool wanted(const QString &aDomain, const QString &aRelativePath);
    // A device path made safe to place below the extraction folder, or empty.
    static QString safeRelativePath(const QString &aDomain, const QString &aRelativePath);

private:
    Status readManifestDb(const QString &aPath, QList<Entry> &aEntries);
    Status readMbdb(const QString &aPath, QList<Entry> &aEntries);
    QString dataFile(const QString &aBackupFolder, const QString &aFileId) const;

    QStringList mMissing;
    int mUnpacked = 0;
    QString mDetail;
};
