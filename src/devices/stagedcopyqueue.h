#pragma once

#include <QString>
#include <QThreadPool>

#include <atomic>
#include <memory>

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
    // A copy found the medium full: later ones would fail the same way.
    bool sawNoSpace() const;

private:
    struct Shared;

    std::shared_ptr<Shared> mShared;
    QThreadPool mPool;
};
