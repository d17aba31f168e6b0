// Cost of guarding each track: an empty region, and a caught fault with the log off and on.
#include "core/exceptionreporter.h"
#include "core/guardedregion.h"
#include "core/logger.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <stdexcept>

namespace {

volatile int gSink = 0;

__attribute__((noinline)) void writeThroughNull()
{
    volatile int *volatile target = nullptr;
    *target = 1;
}

__attribute__((noinline)) void throwError()
{
    throw std::runtime_error("bench");
}

double nanosecondsPer(int aRounds, void (*aWork)())
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < aRounds; ++i)
        GuardedRegion::run(aWork);
    return double(timer.nsecsElapsed()) / aRounds;
}

} // namespace

int main()
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    Logger &log = Logger::instance();
    log.close();

    std::printf("empty region:                  %8.0f ns\n",
                nanosecondsPer(1000000, [] { gSink = gSink + 1; }));
    std::printf("C++ exception, log off:        %8.0f ns\n", nanosecondsPer(20000, throwError));
    std::printf("access violation, log off:     %8.0f ns\n",
                nanosecondsPer(20000, writeThroughNull));

    QDir().mkpath(Logger::defaultLogFolder());
    log.openDefault();
    std::printf("C++ exception, log on:         %8.2f ms\n", nanosecondsPer(20, throwError) / 1e6);
    std::printf("access violation, log on:      %8.2f ms\n",
                nanosecondsPer(20, writeThroughNull) / 1e6);
    log.close();
    return 0;
}
