#pragma once

#include "exportcounts.h"
#include "ipdfile.h"

#include <QString>

// Writes "messages.xml" and "address.xml" from a BlackBerry backup file, in the
// same formats as the iPhone exports. Both files are written whenever the file
// reads as a backup; a backup without messages or contacts gives an empty list.
class BlackberryImporter
{
public:
    struct Result
    {
        IpdFile::Status mStatus = IpdFile::Status::CannotOpen;
        int mMessagesCode = 0; // BackupResult codes
        int mAddressCode = 0;
    };

    // aOutputFolder is created when missing.
    static Result importBlackberryBackup(const QString &aBackupFile, const QString &aOutputFolder,
                                         ExportCounts &aCounts);

    static int writeMessages(const IpdFile &aFile, const QString &aOutput, ExportCounts &aCounts);
    static int writeAddressBook(const IpdFile &aFile, const QString &aOutput,
                                ExportCounts &aCounts);
};
