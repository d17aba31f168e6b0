#pragma once

#include "itunesbackup.h"

#include <QList>
#include <QString>
#include <QStringList>

// Finds the iTunes backups on this computer: the MobileSync backup folders that
// iTunes on Windows and Finder or iTunes on a Mac keep below the home folder
// (often copied over from the old computer as they are), plus folders the user adds.
class BackupFinder
{
public:
    static QStringList defaultFolders();
    // aExtraFolders may name a backup itself or a folder holding backups.
    static QList<ITunesBackup> findiTunesBackups(const QStringList &aExtraFolders = {});
    static QString getDeviceNameFromInfoPlist(const QString &aPath);
};
