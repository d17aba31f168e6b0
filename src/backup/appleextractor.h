#pragma once

#include "backupunpacker.h"
#include "exportcounts.h"
#include "extractedbackup.h"

#include <QString>

// Unpacks one iTunes backup and exports its messages and address book.
class AppleExtractor
{
public:
    // Clears aExtractionFolder, unpacks the backup into it and reads the file list.
    // Only Ok and MissingDataFile leave anything to export.
    BackupUnpacker::Status extractFromManifest(const QString &aBackupFolder,
                                               const QString &aExtractionFolder,
                                               bool aPhotos = true);
    // Fills the record from the "backup_file_list" in aExtractionFolder; entries
    // whose unpacked file is not inside that folder are refused.
    void readFileList(const QString &aExtractionFolder);

    int generateMessagesXML(const QString &aOutput, ExportCounts &aCounts) const;
    int generateAddressBookXML(const QString &aOutput, ExportCounts &aCounts) const;

    const ExtractedBackup &extracted() const { return mExtracted; }
    QString detail() const { return mDetail; }
    // Wanted files that the manifest lists and the backup lacks, as "domain/path".
    QStringList missingFiles() const { return mMissing; }

private:
    ExtractedBackup mExtracted;
    QString mDetail;
    QStringList mMissing;
};
