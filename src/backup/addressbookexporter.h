#pragma once

#include "exportcounts.h"

#include <QString>

// Writes "address.xml" from an iPhone address book database (AddressBook.sqlitedb):
// each person's names, then phone numbers, e-mail addresses, postal addresses and
// web pages with their labels.
class AddressBookExporter
{
public:
    // Returns a BackupResult code and adds the people written to aCounts.
    static int write(const QString &aDatabase, const QString &aOutput, ExportCounts &aCounts);

    static QString propertyElement(const QString &aProperty);
    static QString labelType(const QString &aLabel);
    static QString keyElement(const QString &aKey);
};
