#pragma once

#include <QString>

// One backup found on the PC.
struct ITunesBackup
{
    QString mBackupName; // the device's name from Info.plist; empty when unreadable
    QString mBackupPath; // the backup folder, ending in "/"
};
