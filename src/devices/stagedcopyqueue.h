#pragma once

#include <QList>
#include <QString>
#include <QThreadPool>

#include <atomic>
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
        NoSpace
    };
    using Handle = std::shared_ptr<std::atomic<int>>;

    StagedCopyQueue();
    // Waits for the copies under way.
    ~StagedCopyQueue();
    StagedCopyQueue(const StagedCopyQueue &) = delete;
    StagedCopyQueue &operator=(const StagedCopyQueue &) = delete;

    // Starts copying aSource into the new file aTemporary, waiting first while
    // too many copies are under way. The handle holds the outcome once
    // waitForAll() has returned.
    Handle add(const QString &aSource, const QString &aTemporary);
    void waitForAll();
    // Renames each pair (temporary, final name) on the worker threads; pairs in
    // one folder are renamed in their order, by one thread. The result tells
    // which renames succeeded.
    QList<bool> renameAll(const QList<std::pair<QString, QString>> &aRenames);
    // Starts writing what is cached for the file system of aPath to the medium
    // in the background, unless that is already under way: the flush that must
    // be waited for later then finds little left to do.
    void flushEarly(const QString &aPath);
    // A copy found the medium full: later ones would fail the same way.
    bool sawNoSpace() const;

private:
    struct Shared;

    std::shared_ptr<Shared> mShared;
    QThreadPool mPool;
    QThreadPool mFlusher;
};
