#pragma once

#include "backupphoto.h"
#include "backupunpacker.h"
#include "exportcounts.h"

#include <QList>
#include <QString>
#include <QStringList>

// Reads the old phone's backup (an iTunes backup folder or a BlackBerry ".ipd"
// file) into a private working folder: "messages.xml", "address.xml" and the
// camera-roll photos. The caller copies what was made and then calls
// clearWorkFolder(), since everything in it is the user's personal data.
class PhoneDataExport
{
public:
    enum Item
    {
        Messages = 1,
        Contacts = 2,
        Photos = 4,
        Everything = Messages | Contacts | Photos
    };
    enum class Kind
    {
        Missing,        // nothing at that path
        ITunesBackup,   // a folder with Info.plist or a manifest
        BlackberryFile, // a file
        Unknown         // a folder that is not a backup
    };

    struct Result
    {
        Kind mKind = Kind::Missing;
        int mDone = 0; // the Items made, to be copied
        QString mMessagesFile;
        QString mAddressFile;
        QList<BackupPhoto> mPhotos;
        ExportCounts mCounts;
        QStringList mFailures; // one line per item that was asked for and not made
    };

    static Kind kindOf(const QString &aPath);
    // Removes aFolder with all its content; true when nothing is left.
    static bool clearWorkFolder(const QString &aFolder);
    // Clears aWorkFolder, makes it private (0700) and exports the asked items into it.
    static Result run(const QString &aBackupPath, const QString &aWorkFolder, int aItems);
};
