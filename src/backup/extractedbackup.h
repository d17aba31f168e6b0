#pragma once

#include "backupphoto.h"

#include <QList>
#include <QString>

// What one extraction yields.
struct ExtractedBackup
{
    QString messagesDatabase;
    QString addressBookDatabase;
    QList<BackupPhoto> photos;
};
