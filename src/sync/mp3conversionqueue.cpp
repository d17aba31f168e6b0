#include "sync/mp3conversionqueue.h"

#include "core/apppaths.h"
#include "core/logger.h"
#include "sync/mp3converter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

Mp3ConversionQueue::Mp3ConversionQueue(const QString &aProgram, std::function<bool()> aCancelCheck,
                                       int aWorkers)
    : mProgram(aProgram), mCancelCheck(std::move(aCancelCheck)),
      mWorkers(aWorkers > 0 ? aWorkers : std::max(1, QThread::idealThreadCount()))
{
    mAhead = 2 * mWorkers;
    // Outputs of runs that were killed; a run still going keeps its own.
    const QDir folder(AppPaths::dataFolder());
    for (const QString &name :
         folder.entryList({QStringLiteral("temp-*-*.mp3")}, QDir::Files, QDir::Unsorted)) {
        const QString pid = name.section(QLatin1Char('-'), 1, 1);
        if (!QFileInfo::exists(QStringLiteral("/proc/") + pid))
            QFile::remove(folder.filePath(name));
    }
}

Mp3ConversionQueue::~Mp3ConversionQueue()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
    }
    mChanged.notify_all();
    for (std::thread &thread : mThreads)
        thread.join();
    for (const Job &job : mJobs) {
        if (!job.mTaken)
            QFile::remove(job.mOutput);
    }
}

void Mp3ConversionQueue::add(int aKey, const QString &aSource, int aBitRate)
{
    Job job;
    job.mSource = aSource;
    job.mBitRate = aBitRate;
    // Named after the process too: two runs at once must not share a file.
    job.mOutput = AppPaths::dataFile(
        QStringLiteral("temp-%1-%2.mp3").arg(QCoreApplication::applicationPid()).arg(mJobs.size()));
    mIndex.insert(aKey, int(mJobs.size()));
    mJobs.push_back(job);
}

void Mp3ConversionQueue::start()
{
    const int threads = std::min<int>(mWorkers, int(mJobs.size()));
    Logger::instance().value("Converters started", threads);
    for (int i = 0; i < threads; ++i)
        mThreads.emplace_back([this] { work(); });
}

void Mp3ConversionQueue::work()
{
    Mp3Converter converter;
    converter.setProgram(mProgram);
    converter.setCancelCheck([this] {
        {
            std::lock_guard<std::mutex> lock(mLock);
            if (mStopping)
                return true;
        }
        return mCancelCheck && mCancelCheck();
    });
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mChanged.wait(lock, [this] {
            return mStopping || (mNext < mJobs.size() && mNext < mTakenUpTo + size_t(mAhead));
        });
        if (mStopping)
            return;
        Job &job = mJobs[mNext++];
        const QString source = job.mSource;
        const QString output = job.mOutput;
        const int bitRate = job.mBitRate;
        lock.unlock();
        const bool converted = converter.convert(source, output, bitRate);
        const QString error = converter.lastError();
        lock.lock();
        job.mConverted = converted;
        job.mError = error;
        job.mDone = true;
        mChanged.notify_all();
    }
}

bool Mp3ConversionQueue::take(int aKey, QString &aOutputPath, QString &aError)
{
    const auto found = mIndex.constFind(aKey);
    if (found == mIndex.constEnd()) {
        aError = QStringLiteral("not queued");
        return false;
    }
    const size_t index = size_t(found.value());
    std::unique_lock<std::mutex> lock(mLock);
    // Conversions that the run has passed by are no reason to hold back later ones.
    mTakenUpTo = std::max(mTakenUpTo, index + 1);
    mChanged.notify_all();
    Job &job = mJobs[index];
    mChanged.wait(lock, [&job] { return job.mDone; });
    job.mTaken = job.mConverted;
    aOutputPath = job.mOutput;
    aError = job.mError;
    return job.mConverted;
}
