#pragma once

#include <QList>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

// Copies files to their temporary names on worker threads. Creating many small
// files is mostly work in the kernel, which two cores do in about half the
// time; a bounded number of copies is under way at once, so a cancelled run
// waits for only a few.
class StagedCopyQueue
{
public:
    enum Outcome
    {
        Pending,
        Done,
        Failed,
        NoSpace,
        // Never begun: dropUnstarted() came first.
        Dropped,
        // Done, flushed, and under its final name: see flushEarly().
        Placed
    };
    using Handle = std::shared_ptr<std::atomic<int>>;

    StagedCopyQueue();
    // Drops the copies not yet begun and waits for those under way.
    ~StagedCopyQueue();
    StagedCopyQueue(const StagedCopyQueue &) = delete;
    StagedCopyQueue &operator=(const StagedCopyQueue &) = delete;

    // Starts copying aSource into the new file aTemporary, waiting first while
    // too many copies are under way. The handle holds the outcome once
    // waitForAll() has returned.
    Handle add(const QString &aSource, const QString &aTemporary);
    // Waits for the copies and for an early flush with its renames.
    void waitForAll();
    // Copies not yet begun end as Dropped, without touching the disk; waits
    // for the ones under way.
    void dropUnstarted();
    struct Placement
    {
        QString mTemporary;
        QString mDestination;
        Handle mOutcome;
        // A new folder's copies are made in a folder of a temporary name beside
        // it (their own names already), which becomes the new folder in one
        // rename; empty for a copy made beside its final name.
        QString mStagingFolder;
    };
    // Gives each copy its final name, in order, after waiting for the copies
    // and any early flush; the result tells which succeeded.
    QList<bool> placeAll(const QList<Placement> &aPlacements);
    // What placeAll() does, on the calling thread: a staging folder becomes
    // its new folder whole, or, where that folder has appeared meanwhile, its
    // files are moved into it one by one.
    static void place(const QList<Placement> &aPlacements,
                      const std::function<void(qsizetype, bool)> &aDone);
    // Starts writing what is cached for the file system of aPath to the medium
    // in the background, so that the flush that must be waited for later finds
    // little left to do; then gives each finished copy of aFinished its final
    // name (Placed, or Failed if the rename fails), since its data is safe by
    // then. Returns false, doing nothing, while an earlier flush is under way.
    bool flushEarly(const QString &aPath, QList<Placement> aFinished = {});
    bool flushUnderWay() const;
    // Copies that have not begun when the check answers true end as Dropped.
    // Waits for the copies under way before changing it.
    void setCancelCheck(std::function<bool()> aCancelled);
    // A copy found the medium full: later ones would fail the same way.
    bool sawNoSpace() const;

private:
    struct Shared;
    struct Job
    {
        QString mSource;
        QString mTemporary;
        Handle mOutcome;
    };
    // Hands the collected copies to one worker: a wake-up per few files, not per file.
    void submit();

    std::shared_ptr<Shared> mShared;
    QList<Job> mCollected;
    QThreadPool mPool;
    QThreadPool mFlusher;
};
