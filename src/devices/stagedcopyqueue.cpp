#include "devices/stagedcopyqueue.h"

#include "devices/safefilecopy.h"

#include <QFile>
#include <QHash>
#include <QSemaphore>
#include <QStringList>

#include <cstdio>

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

QList<bool> StagedCopyQueue::placeAll(const QList<Placement> &aPlacements)
{
    waitForAll();
    QList<bool> result(aPlacements.size(), false);
    place(aPlacements, [&result](qsizetype aAt, bool aOk) { result[aAt] = aOk; });
    return result;
}

void StagedCopyQueue::place(const QList<Placement> &aPlacements,
                            const std::function<void(qsizetype, bool)> &aDone)
{
    QList<std::pair<QString, QString>> singles;
    QList<qsizetype> singleAt;
    QHash<QString, QList<qsizetype>> byStagingFolder;
    QStringList stagingOrder;
    for (qsizetype i = 0; i < aPlacements.size(); ++i) {
        const Placement &placement = aPlacements.at(i);
        if (placement.mStagingFolder.isEmpty()) {
            singles.append({placement.mTemporary, placement.mDestination});
            singleAt.append(i);
            continue;
        }
        QList<qsizetype> &members = byStagingFolder[placement.mStagingFolder];
        if (members.isEmpty())
            stagingOrder.append(placement.mStagingFolder);
        members.append(i);
    }
    QList<std::pair<QString, QString>> emptied;
    for (const QString &staging : std::as_const(stagingOrder)) {
        const QList<qsizetype> &members = byStagingFolder.value(staging);
        const QString &first = aPlacements.at(members.first()).mDestination;
        const QString folder = first.left(first.lastIndexOf(QLatin1Char('/')));
        // Fails where the folder exists and is not empty.
        if (::rename(QFile::encodeName(staging).constData(),
                     QFile::encodeName(folder).constData()) == 0) {
            for (const qsizetype i : members)
                aDone(i, true);
            continue;
        }
        for (const qsizetype i : members) {
            singles.append({aPlacements.at(i).mTemporary, aPlacements.at(i).mDestination});
            singleAt.append(i);
        }
        emptied.append({staging, folder});
    }
    SafeFileCopy::renameAll(singles,
                            [&](qsizetype aAt, bool aOk) { aDone(singleAt.at(aAt), aOk); });
    for (const auto &[staging, folder] : std::as_const(emptied))
        SafeFileCopy::moveRemainingFiles(staging, folder);
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
        place(finished, [&finished](qsizetype aAt, bool aOk) {
            finished.at(aAt).mOutcome->store(aOk ? Placed : Failed);
        });
    });
    return true;
}
