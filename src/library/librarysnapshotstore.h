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
    // Why a file gave no snapshot. The result code tells the automation layer only
    // "busy" or "not running"; a front end can tell a file being written from one
    // that will never parse.
    struct Problem
    {
        enum Kind
        {
            None,
            Missing,
            Unreadable,
            Incomplete,
            Malformed,
            NotALibrary
        };
        Kind mKind = None;
        // For Malformed: "line L, column C: reason".
        QString mDetail;
    };

    static LibrarySnapshotStore &instance();

    // CallRejected for a file that ends early (being written); ServerExecFailure
    // for one that is missing, unreadable, malformed or no library.
    HResult load(const QString &aPath, std::shared_ptr<const LibrarySnapshot> &aSnapshot,
                 Problem *aProblem = nullptr);
    int parseCount() const;

private:
    HResult remember(const QString &aKey, qint64 aSize, qint64 aModified, qint64 aChanged,
                     HResult aResult, const Problem &aProblem,
                     std::shared_ptr<const LibrarySnapshot> aSnapshot);

    struct Entry
    {
        qint64 mSize = -1;
        qint64 mModified = 0;
        qint64 mChanged = 0;
        // A file that failed to parse is not parsed again until it changes.
        HResult mResult = ITResult::Ok;
        Problem mProblem;
        std::shared_ptr<const LibrarySnapshot> mSnapshot;
    };

    mutable QMutex mLock;
    QHash<QString, Entry> mEntries;
    int mParseCount = 0;
};
