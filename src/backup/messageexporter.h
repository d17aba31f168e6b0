#pragma once

#include "exportcounts.h"

#include <QString>

class BackupDatabase;
class ExportWriter;

// Writes "messages.xml" from an iPhone messages database (sms.db) of any iOS
// version: the iOS 4-5 table with "address" and "flags" columns, and the later
// one that names the other party through a handle or a chat. Rows are streamed,
// so memory does not grow with the number of messages.
class MessageExporter
{
public:
    // Returns a BackupResult code and adds what it wrote to aCounts.
    static int write(const QString &aDatabase, const QString &aOutput, ExportCounts &aCounts);

    // A database date as Unix seconds: seconds or nanoseconds since 2001 (aSince2001),
    // or already Unix seconds.
    static qint64 unixSeconds(qint64 aValue, bool aSince2001);

private:
    static QString query(BackupDatabase &aDatabase);
};
