#include "faultscript.h"

void FaultScript::fail(const QString &aCall, HResult aCode, int aTimes, const QString &aObject)
{
    QMutexLocker locker(&mLock);
    mRules.append(Rule{aCall, aObject, aCode, false, aTimes});
}

void FaultScript::answerNull(const QString &aCall, int aTimes, const QString &aObject)
{
    QMutexLocker locker(&mLock);
    mRules.append(Rule{aCall, aObject, ITResult::Ok, true, aTimes});
}

void FaultScript::clear()
{
    QMutexLocker locker(&mLock);
    mRules.clear();
    mCalls.clear();
}

bool FaultScript::take(const char *aCall, const QString &aObject, HResult &aResult, bool &aNull)
{
    const QString call = QString::fromLatin1(aCall);
    QMutexLocker locker(&mLock);
    ++mCalls[call];
    for (Rule &rule : mRules) {
        if (rule.mRemaining == 0 || rule.mCall != call ||
            (!rule.mObject.isEmpty() && rule.mObject != aObject))
            continue;
        if (rule.mRemaining > 0)
            --rule.mRemaining;
        aResult = rule.mCode;
        aNull = rule.mNull;
        return true;
    }
    return false;
}

int FaultScript::calls(const QString &aCall) const
{
    QMutexLocker locker(&mLock);
    return mCalls.value(aCall);
}
