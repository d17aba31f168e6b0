#include "devices/stagedcopyqueue.h"

#include "devices/safefilecopy.h"

#include <QSemaphore>

#include <vector>

namespace {
constexpr int CopiesUnderWay = 16;
}

struct StagedCopyQueue::Shared
{
    QSemaphore mSlots{CopiesUnderWay};
    std::atomic<bool> mNoSpace{false};
};

StagedCopyQueue::StagedCopyQueue() : mShared(std::make_shared<Shared>())
{
    mPool.setMaxThreadCount(qMax(2, QThread::idealThreadCount()));
    mFlusher.setMaxThreadCount(1);
}

StagedCopyQueue::~StagedCopyQueue()
{
    mPool.waitForDone();
    mFlusher.waitForDone();
}

StagedCopyQueue::Handle StagedCopyQueue::add(const QString &aSource, const QString &aTemporary)
{
    auto outcome = std::make_shared<std::atomic<int>>(Pending);
    mShared->mSlots.acquire();
    mPool.start([shared = mShared, outcome, aSource, aTemporary] {
        const SafeFileCopy::Result result = SafeFileCopy::stageAs(aSource, aTemporary);
        if (result == SafeFileCopy::Result::NoSpace)
            shared->mNoSpace.store(true);
        outcome->store(result == SafeFileCopy::Result::Done      ? Done
                       : result == SafeFileCopy::Result::NoSpace ? NoSpace
                                                                 : Failed);
        shared->mSlots.release();
    });
    return outcome;
}

void StagedCopyQueue::waitForAll()
{
    mPool.waitForDone();
}

bool StagedCopyQueue::sawNoSpace() const
{
    return mShared->mNoSpace.load();
}

QList<bool> StagedCopyQueue::renameAll(const QList<std::pair<QString, QString>> &aRenames)
{
    mPool.waitForDone();
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

void StagedCopyQueue::flushEarly(const QString &aPath)
{
    if (mFlusher.activeThreadCount() > 0)
        return;
    mFlusher.start([aPath] { SafeFileCopy::flushFileSystem(aPath); });
}
