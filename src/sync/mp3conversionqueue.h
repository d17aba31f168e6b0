#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Converts the tracks a run is about to copy ahead of the copy, one converter
// per core, each into a file of its own. The run takes the results in the
// order it copies; only a few conversions run ahead of it, so the files
// waiting on the PC stay few.
class Mp3ConversionQueue
{
public:
    Mp3ConversionQueue(const QString &aProgram, std::function<bool()> aCancelCheck,
                       int aWorkers = 0);
    // Stops the converters; outputs never taken are removed.
    ~Mp3ConversionQueue();
    Mp3ConversionQueue(const Mp3ConversionQueue &) = delete;
    Mp3ConversionQueue &operator=(const Mp3ConversionQueue &) = delete;

    // Queues a conversion under aKey; call before start().
    void add(int aKey, const QString &aSource, int aBitRate);
    void start();
    bool contains(int aKey) const { return mIndex.contains(aKey); }
    // Waits for aKey's conversion. On success the output file is the caller's.
    bool take(int aKey, QString &aOutputPath, QString &aError);

private:
    struct Job
    {
        QString mSource;
        QString mOutput;
        int mBitRate = 0;
        bool mDone = false;
        bool mTaken = false;
        bool mConverted = false;
        QString mError;
    };

    void work();

    QString mProgram;
    std::function<bool()> mCancelCheck;
    int mWorkers;
    int mAhead;
    std::vector<Job> mJobs;
    QHash<int, int> mIndex;
    std::vector<std::thread> mThreads;
    std::mutex mLock;
    std::condition_variable mChanged;
    size_t mNext = 0;
    size_t mTakenUpTo = 0;
    bool mStopping = false;
};
