#include "devices/stagedcopyqueue.h"

#include "devices/safefilecopy.h"

#include <QSemaphore>

#include <vector>

namespace {
constexpr int CopiesUnderWay = 32;
constexpr int CopiesPerTask = 8;
} // namespace

struct StagedCopyQueue::Shared
{
    QSemaphore mSlots{CopiesUnderWay};
    std::atomic<bool> mNoSpace{false};
    std::atomic<bool> mDropping{false};
    // Only changed while no copy runs.
    std::function<bool()> mCancelled;
};

StagedCopyQueue::StagedCopyQueue() : mShared(std::make_shared<Shared>())
{
    // More parallel writers than this only scatter the writes on a USB drive.
    mPool.setMaxThreadCount(qBound(2, QThread::idealThreadCount(), 4));
    mFlusher.setMaxThreadCount(1);
}

StagedCopyQueue::~StagedCopyQueue()
{
    // Nobody will commit what has not begun: copying it would only leave leftovers.
    dropUnstarted();
    mFlusher.waitForDone();
}

StagedCopyQueue::Handle StagedCopyQueue::add(const QString &aSource, const QString &aTemporary)
{
    auto outcome = std::make_shared<std::atomic<int>>(Pending);
    if (!mShared->mSlots.tryAcquire()) {
        // The copies collected here hold slots too: they must be under way before waiting.
        submit();
        mShared->mSlots.acquire();
    }
    mCollected.append({aSource, aTemporary, outcome});
    if (mCollected.size() >= CopiesPerTask)
        submit();
    return outcome;
}

void StagedCopyQueue::submit()
{
    if (mCollected.isEmpty())
        return;
    mPool.start([shared = mShared, jobs = std::move(mCollected)] {
        for (const Job &job : jobs) {
            if (shared->mDropping.load() || (shared->mCancelled && shared->mCancelled())) {
                job.mOutcome->store(Dropped);
                shared->mSlots.release();
                continue;
            }
            const SafeFileCopy::Result result = SafeFileCopy::stageAs(job.mSource, job.mTemporary);
            if (result == SafeFileCopy::Result::NoSpace)
                shared->mNoSpace.store(true);
            job.mOutcome->store(result == SafeFileCopy::Result::Done      ? Done
                                : result == SafeFileCopy::Result::NoSpace ? NoSpace
                                                                          : Failed);
            shared->mSlots.release();
        }
    });
    mCollected = {};
}

void StagedCopyQueue::waitForAll()
{
    submit();
    mPool.waitForDone();
    mFlusher.waitForDone();
}

void StagedCopyQueue::dropUnstarted()
{
    for (const Job &job : std::as_const(mCollected)) {
        job.mOutcome->store(Dropped);
        mShared->mSlots.release();
    }
    mCollected = {};
    mShared->mDropping.store(true);
    mPool.waitForDone();
    mShared->mDropping.store(false);
}

void StagedCopyQueue::setCancelCheck(std::function<bool()> aCancelled)
{
    waitForAll();
    mShared->mCancelled = std::move(aCancelled);
}

bool StagedCopyQueue::sawNoSpace() const
{
    return mShared->mNoSpace.load();
}

QList<bool> StagedCopyQueue::renameAll(const QList<std::pair<QString, QString>> &aRenames)
{
    waitForAll();
    const int groups = mPool.maxThreadCount();
    QList<QList<qsizetype>> byGroup(groups);
    for (qsizetype i = 0; i < aRenames.size(); ++i) {
        const QString &name = aRenames.at(i).second;
        const QStringView folder = QStringView(name).left(name.lastIndexOf(QLatin1Char('/')));
        byGroup[int(qHash(folder) % uint(groups))].append(i);
    }
    // Each task writes only its own entries.
    std::vector<char> done(size_t(aRenames.size()), 0);
    for (const QList<qsizetype> &group : std::as_const(byGroup)) {
        if (group.isEmpty())
            continue;
        mPool.start([&aRenames, &done, group] {
            for (const qsizetype i : group)
                done[size_t(i)] = SafeFileCopy::rename(aRenames.at(i).first, aRenames.at(i).second);
        });
    }
    mPool.waitForDone();
    QList<bool> result;
    result.reserve(aRenames.size());
    for (const char ok : done)
        result.append(ok != 0);
    return result;
}

bool StagedCopyQueue::flushUnderWay() const
{
    return mFlusher.activeThreadCount() > 0;
}

bool StagedCopyQueue::flushEarly(const QString &aPath, QList<Placement> aFinished)
{
    if (flushUnderWay())
        return false;
    mFlusher.start([aPath, finished = std::move(aFinished)] {
        // A name is given only to data already on the medium, so a crash never
        // leaves a partial file under it.
        if (SafeFileCopy::flushFileSystem(aPath) != SafeFileCopy::Result::Done)
            return;
        for (const Placement &placement : finished) {
            const bool renamed = SafeFileCopy::rename(placement.mTemporary, placement.mDestination);
            placement.mOutcome->store(renamed ? Placed : Failed);
        }
    });
    return true;
}
