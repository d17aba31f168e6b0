#pragma once

#include "library/itresult.h"
#include "library/librarysnapshot.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>

// Process-wide cache of parsed library files: a file is parsed again only when
// its size or modification time changed. Safe to use from any thread.
class LibrarySnapshotStore
{
public:
    static LibrarySnapshotStore &instance();

    // ServerExecFailure for a missing or unreadable file, CallRejected for one
    // that is not (yet) well-formed.
    HResult load(const QString &aPath, std::shared_ptr<const LibrarySnapshot> &aSnapshot);
    int parseCount() const;

private:
    HResult remember(const QString &aKey, qint64 aSize, qint64 aModified, qint64 aChanged,
                     HResult aResult, std::shared_ptr<const LibrarySnapshot> aSnapshot);

    struct Entry
    {
        qint64 mSize = -1;
        qint64 mModified = 0;
        qint64 mChanged = 0;
        // A file that failed to parse is not parsed again until it changes.
        HResult mResult = ITResult::Ok;
        std::shared_ptr<const LibrarySnapshot> mSnapshot;
    };

    mutable QMutex mLock;
    QHash<QString, Entry> mEntries;
    int mParseCount = 0;
};
