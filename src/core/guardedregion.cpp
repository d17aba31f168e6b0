#include "core/guardedregion.h"

#include "core/exceptionreporter.h"
#include "core/logger.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <mutex>
#include <pthread.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

constexpr int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int SignalCount = int(std::size(FaultSignals));
constexpr int RawFrames = 24;
constexpr quintptr StackSlack = 64 * 1024;
// Linux keeps this much unmapped below a growing main-thread stack.
constexpr quintptr StackGap = 1024 * 1024;

struct Capture
{
    quint32 mCode = 0;
    void *mAddresses[RawFrames] = {};
    int mCount = 0;
    bool mFirstIsExact = false;
};

struct ThreadState
{
    sigjmp_buf *mJump = nullptr;
    Capture mCapture;
    quintptr mStackLow = 0;
    quintptr mGuardSize = 0;
};

// The handler reads the state through a plain pointer in static TLS, which
// needs neither allocation nor initialisation inside the handler.
constinit thread_local ThreadState *tState __attribute__((tls_model("initial-exec"))) = nullptr;

struct sigaction gPrevious[SignalCount];
std::once_flag gInstallOnce;

int signalIndex(int aSignal)
{
    for (int i = 0; i < SignalCount; ++i) {
        if (FaultSignals[i] == aSignal)
            return i;
    }
    return -1;
}

quintptr programCounter(const void *aContext)
{
    const auto *context = static_cast<const ucontext_t *>(aContext);
#if defined(__x86_64__)
    return quintptr(context->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return quintptr(context->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return quintptr(context->uc_mcontext.pc);
#else
    Q_UNUSED(context);
    return 0;
#endif
}

quintptr stackPointer(const void *aContext)
{
    const auto *context = static_cast<const ucontext_t *>(aContext);
#if defined(__x86_64__)
    return quintptr(context->uc_mcontext.gregs[REG_RSP]);
#elif defined(__i386__)
    return quintptr(context->uc_mcontext.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return quintptr(context->uc_mcontext.sp);
#else
    Q_UNUSED(context);
    return 0;
#endif
}

bool isStackOverflow(const ThreadState &aState, quintptr aFault, quintptr aStackPointer)
{
    if (aState.mStackLow != 0) {
        const quintptr below = std::max(aState.mGuardSize + StackSlack, StackGap);
        const quintptr from = aState.mStackLow > below ? aState.mStackLow - below : 0;
        return aFault >= from && aFault < aState.mStackLow + StackSlack;
    }
    return aStackPointer != 0 && aFault < aStackPointer + StackSlack &&
           aFault + StackSlack > aStackPointer;
}

quint32 codeFor(int aSignal, const siginfo_t *aInfo, const ThreadState &aState,
                const void *aContext)
{
    using R = ExceptionReporter;
    const int code = aInfo->si_code;
    switch (aSignal) {
    case SIGSEGV:
        return isStackOverflow(aState, quintptr(aInfo->si_addr), stackPointer(aContext))
                   ? R::StackOverflow
                   : R::AccessViolation;
    case SIGBUS:
        return code == BUS_ADRALN ? R::DatatypeMisalignment : R::InPageError;
    case SIGFPE:
        switch (code) {
        case FPE_INTOVF:
            return R::IntOverflow;
        case FPE_FLTDIV:
            return R::FltDivideByZero;
        case FPE_FLTOVF:
            return R::FltOverflow;
        case FPE_FLTUND:
            return R::FltUnderflow;
        case FPE_FLTRES:
            return R::FltInexactResult;
        case FPE_FLTINV:
            return R::FltInvalidOperation;
        case FPE_FLTSUB:
            return R::ArrayBoundsExceeded;
        default:
            return R::IntDivideByZero;
        }
    case SIGILL:
        return code == ILL_PRVOPC || code == ILL_PRVREG ? R::PrivInstruction
                                                        : R::IllegalInstruction;
    case SIGTRAP:
        return code == TRAP_TRACE ? R::SingleStep : R::Breakpoint;
    default:
        return 0;
    }
}

// Outside a region the signal gets what it would have got without us.
void forwardToPrevious(int aSignal, siginfo_t *aInfo, void *aContext)
{
    const int index = signalIndex(aSignal);
    if (index < 0)
        return;
    const struct sigaction &previous = gPrevious[index];
    // What the kernel would have done before calling the previous handler.
    if (previous.sa_flags & SA_RESETHAND)
        signal(aSignal, SIG_DFL);
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction)
            previous.sa_sigaction(aSignal, aInfo, aContext);
        return;
    }
    // An ignored fault would only fault again on return, as the kernel knows too.
    const bool sent = aInfo->si_code <= 0 || aSignal == SIGTRAP;
    if (previous.sa_handler == SIG_IGN && sent)
        return;
    if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) {
        signal(aSignal, SIG_DFL);
        raise(aSignal);
        return;
    }
    previous.sa_handler(aSignal);
}

void onFault(int aSignal, siginfo_t *aInfo, void *aContext)
{
    ThreadState *state = tState;
    if (!state || !state->mJump) {
        forwardToPrevious(aSignal, aInfo, aContext);
        return;
    }
    Capture &capture = state->mCapture;
    capture.mCode = codeFor(aSignal, aInfo, *state, aContext);
    void *raw[RawFrames];
    const int count = backtrace(raw, RawFrames);
    // The frames before the interrupted instruction are this handler and the
    // kernel's return trampoline.
    const quintptr pc = programCounter(aContext);
    int first = -1;
    for (int i = 0; pc != 0 && i < count; ++i) {
        if (quintptr(raw[i]) == pc) {
            first = i;
            break;
        }
    }
    capture.mFirstIsExact = first >= 0;
    if (first < 0)
        first = std::min(2, count);
    capture.mCount = count - first;
    std::copy(raw + first, raw + count, capture.mAddresses);
    siglongjmp(*state->mJump, 1);
}

void installHandlers()
{
    // The first backtrace() loads the unwinder, which must not happen in a handler.
    void *warmUp[2];
    backtrace(warmUp, 2);
    struct sigaction action = {};
    action.sa_sigaction = onFault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (int i = 0; i < SignalCount; ++i) {
        sigaction(FaultSignals[i], nullptr, &gPrevious[i]);
        sigaction(FaultSignals[i], &action, nullptr);
    }
}

// Per guarding thread: its stack limits and an alternate signal stack, so that
// a stack overflow can still be handled.
class ThreadGuard
{
public:
    ThreadGuard()
    {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            void *address = nullptr;
            size_t size = 0;
            size_t guard = 0;
            if (pthread_attr_getstack(&attributes, &address, &size) == 0)
                mState.mStackLow = quintptr(address);
            if (pthread_attr_getguardsize(&attributes, &guard) == 0)
                mState.mGuardSize = guard;
            pthread_attr_destroy(&attributes);
        }
        installAltStack();
        tState = &mState;
    }
    ~ThreadGuard()
    {
        tState = nullptr;
        if (mAltStack) {
            stack_t restore = mOldAltStack;
            if (!(restore.ss_flags & SS_DISABLE))
                restore.ss_flags = 0;
            sigaltstack(&restore, nullptr);
            std::free(mAltStack);
        }
    }
    ThreadGuard(const ThreadGuard &) = delete;
    ThreadGuard &operator=(const ThreadGuard &) = delete;

    ThreadState mState;

private:
    void installAltStack()
    {
        const long systemSize = sysconf(_SC_SIGSTKSZ);
        const size_t wanted = 64 * 1024 + size_t(systemSize > 0 ? systemSize : 0);
        if (sigaltstack(nullptr, &mOldAltStack) != 0)
            return;
        if (!(mOldAltStack.ss_flags & SS_DISABLE) && mOldAltStack.ss_size >= wanted)
            return;
        mAltStack = std::malloc(wanted);
        if (!mAltStack)
            return;
        stack_t stack = {};
        stack.ss_sp = mAltStack;
        stack.ss_size = wanted;
        if (sigaltstack(&stack, nullptr) != 0) {
            std::free(mAltStack);
            mAltStack = nullptr;
        }
    }

    void *mAltStack = nullptr;
    stack_t mOldAltStack = {};
};

ThreadState &threadState()
{
    thread_local ThreadGuard guard;
    return guard.mState;
}

__attribute__((noinline)) void reportCaughtException()
{
    void *raw[RawFrames];
    const int count = backtrace(raw, RawFrames);
    // Without this helper's own frame the report starts in the region.
    if (count > 1)
        ExceptionReporter::instance().captureAndLog(ExceptionReporter::CppException, raw + 1,
                                                    count - 1, false);
    else
        ExceptionReporter::instance().captureAndLog(ExceptionReporter::CppException, raw, 0, false);
}

void reportSignal(const ThreadState &aState)
{
    Logger::instance().recoverAfterFault();
    const Capture capture = aState.mCapture;
    ExceptionReporter::instance().captureAndLog(capture.mCode, capture.mAddresses, capture.mCount,
                                                capture.mFirstIsExact);
}

} // namespace

bool GuardedRegion::run(const std::function<void()> &aWork)
{
    std::call_once(gInstallOnce, installHandlers);
    ThreadState &state = threadState();
    sigjmp_buf jump;
    sigjmp_buf *const outer = state.mJump;
    if (sigsetjmp(jump, 1) != 0) {
        state.mJump = outer;
        reportSignal(state);
        return false;
    }
    state.mJump = &jump;
    try {
        aWork();
    } catch (abi::__forced_unwind &) {
        // Thread cancellation must reach the top of the thread.
        state.mJump = outer;
        throw;
    } catch (...) {
        state.mJump = outer;
        reportCaughtException();
        return false;
    }
    state.mJump = outer;
    return true;
}

bool GuardedRegion::isActive()
{
    const ThreadState *state = tState;
    return state && state->mJump;
}
