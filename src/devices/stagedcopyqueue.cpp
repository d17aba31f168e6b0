#include "devices/stagedcopyqueue.h"

#include "devices/safefilecopy.h"

#include <QSemaphore>

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
}

StagedCopyQueue::~StagedCopyQueue()
{
    mPool.waitForDone();
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
