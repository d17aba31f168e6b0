#pragma once

#include <functional>

// Runs work so that a fault in it costs the work, not the process. A C++
// exception of any type, or a synchronous fault signal (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGTRAP, stack overflow included) raised on the calling
// thread while the work runs, is written to the log as an exception report and
// the call returns false. Regions nest; the innermost one catches. Outside a
// region every signal keeps the behaviour it had before.
//
// A fault leaves the work by a jump, so destructors of the frames it skips do
// not run: work should hold no locks that the caller needs afterwards.
class GuardedRegion
{
public:
    static bool run(const std::function<void()> &aWork);

    // True while the calling thread is inside a region.
    static bool isActive();
};
