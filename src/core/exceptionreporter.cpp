#include "core/exceptionreporter.h"

#include "config.h"
#include "core/logger.h"

#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <unistd.h>

#if HAVE_LIBDW
#include <elfutils/libdwfl.h>
#endif

namespace {

QString demangled(const char *aName)
{
    if (!aName || !*aName)
        return QString();
    int status = 0;
    char *plain = abi::__cxa_demangle(aName, nullptr, nullptr, &status);
    const QString result = QString::fromUtf8(status == 0 && plain ? plain : aName);
    std::free(plain);
    return result;
}

// The symbol handler. It outlives one capture because reading the debug
// information of the loaded modules is most of the cost of a lookup; each
// capture reports the modules again, which keeps those already read.
class SymbolLookup
{
public:
    SymbolLookup() = default;
    ~SymbolLookup()
    {
#if HAVE_LIBDW
        if (mDwfl)
            dwfl_end(mDwfl);
#endif
    }
    SymbolLookup(const SymbolLookup &) = delete;
    SymbolLookup &operator=(const SymbolLookup &) = delete;

    // Takes in the modules loaded now; false when the handler cannot work.
    bool refresh()
    {
#if HAVE_LIBDW
        if (!mDwfl)
            mDwfl = dwfl_begin(&mCallbacks);
        if (!mDwfl)
            return false;
        dwfl_report_begin(mDwfl);
        const int failed = dwfl_linux_proc_report(mDwfl, getpid());
        if (dwfl_report_end(mDwfl, nullptr, nullptr) != 0 || failed != 0) {
            dwfl_end(mDwfl);
            mDwfl = nullptr;
        }
#endif
        return isValid();
    }

    bool isValid() const
    {
#if HAVE_LIBDW
        return mDwfl != nullptr;
#else
        return true;
#endif
    }

    ExceptionFrame frameAt(quintptr aAddress) const
    {
        ExceptionFrame frame;
#if HAVE_LIBDW
        const Dwarf_Addr address = aAddress;
        Dwfl_Module *module = dwfl_addrmodule(mDwfl, address);
        if (!module)
            return frame;
        frame.mFunction = demangled(dwfl_module_addrname(module, address));
        if (Dwfl_Line *line = dwfl_module_getsrc(module, address)) {
            int lineNumber = 0;
            const char *file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr);
            if (file) {
                frame.mFile = QString::fromUtf8(file);
                frame.mLine = lineNumber;
            }
        }
#else
        Dl_info info{};
        if (dladdr(reinterpret_cast<void *>(aAddress), &info) && info.dli_sname)
            frame.mFunction = demangled(info.dli_sname);
#endif
        return frame;
    }

private:
#if HAVE_LIBDW
    char *mDebugInfoPath = nullptr;
    Dwfl_Callbacks mCallbacks{dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                              &mDebugInfoPath};
    Dwfl *mDwfl = nullptr;
#endif
};

// Created before main() like the log, so that a fault early in a run finds it ready.
struct ReporterBootstrap
{
    ReporterBootstrap() { ExceptionReporter::instance(); }
} bootstrap;

} // namespace

ExceptionReporter &ExceptionReporter::instance()
{
    static ExceptionReporter reporter;
    return reporter;
}

ExceptionReporter::ExceptionReporter()
    : mNames{{AccessViolation, QStringLiteral("EXCEPTION_ACCESS_VIOLATION")},
             {DatatypeMisalignment, QStringLiteral("EXCEPTION_DATATYPE_MISALIGNMENT")},
             {Breakpoint, QStringLiteral("EXCEPTION_BREAKPOINT")},
             {SingleStep, QStringLiteral("EXCEPTION_SINGLE_STEP")},
             {ArrayBoundsExceeded, QStringLiteral("EXCEPTION_ARRAY_BOUNDS_EXCEEDED")},
             {FltDenormalOperand, QStringLiteral("EXCEPTION_FLT_DENORMAL_OPERAND")},
             {FltDivideByZero, QStringLiteral("EXCEPTION_FLT_DIVIDE_BY_ZERO")},
             {FltInexactResult, QStringLiteral("EXCEPTION_FLT_INEXACT_RESULT")},
             {FltInvalidOperation, QStringLiteral("EXCEPTION_FLT_INVALID_OPERATION")},
             {FltOverflow, QStringLiteral("EXCEPTION_FLT_OVERFLOW")},
             {FltStackCheck, QStringLiteral("EXCEPTION_FLT_STACK_CHECK")},
             {FltUnderflow, QStringLiteral("EXCEPTION_FLT_UNDERFLOW")},
             {IntDivideByZero, QStringLiteral("EXCEPTION_INT_DIVIDE_BY_ZERO")},
             {IntOverflow, QStringLiteral("EXCEPTION_INT_OVERFLOW")},
             {PrivInstruction, QStringLiteral("EXCEPTION_PRIV_INSTRUCTION")},
             {InPageError, QStringLiteral("EXCEPTION_IN_PAGE_ERROR")},
             {IllegalInstruction, QStringLiteral("EXCEPTION_ILLEGAL_INSTRUCTION")},
             {NoncontinuableException, QStringLiteral("EXCEPTION_NONCONTINUABLE_EXCEPTION")},
             {StackOverflow, QStringLiteral("EXCEPTION_STACK_OVERFLOW")},
             {InvalidDisposition, QStringLiteral("EXCEPTION_INVALID_DISPOSITION")},
             {GuardPage, QStringLiteral("EXCEPTION_GUARD_PAGE")},
             {InvalidHandle, QStringLiteral("EXCEPTION_INVALID_HANDLE")}},
      mMachineType(machineTypeFor(std::getenv("PROCESSOR_ARCHITECTURE")))
{}

quint32 ExceptionReporter::machineTypeFor(const char *aArchitecture)
{
    if (aArchitecture) {
        if (!std::strcmp(aArchitecture, "EM64T") || !std::strcmp(aArchitecture, "AMD64"))
            return MachineX64;
        if (!std::strcmp(aArchitecture, "x86"))
            return MachineX86;
        return 0;
    }
#if defined(__x86_64__)
    return MachineX64;
#elif defined(__i386__)
    return MachineX86;
#elif defined(__aarch64__)
    return MachineArm64;
#elif defined(__arm__)
    return MachineArm;
#elif defined(__riscv) && __riscv_xlen == 64
    return MachineRiscV64;
#else
    return MachineOther;
#endif
}

void ExceptionReporter::capture(quint32 aCode, void *const *aAddresses, int aCount,
                                bool aFirstIsExact)
{
    LogScope scope("ExceptionReporter::capture");
    std::lock_guard guard(mLock);
    mExceptionCode = aCode;
    mFrames.clear();
    if (mMachineType == 0)
        return;
    static SymbolLookup lookup;
    if (!lookup.refresh())
        return;
    for (int i = 0; i < aCount && mFrames.size() < MaxFrames; ++i) {
        const auto address = reinterpret_cast<quintptr>(aAddresses[i]);
        if (address == 0)
            break;
        // A return address points past the call, which may be on the next line.
        const bool exact = i == 0 && aFirstIsExact;
        mFrames.append(lookup.frameAt(exact ? address : address - 1));
    }
}

void ExceptionReporter::setCapture(quint32 aCode, const QList<ExceptionFrame> &aFrames)
{
    std::lock_guard guard(mLock);
    mExceptionCode = aCode;
    mFrames = aFrames.mid(0, MaxFrames);
}

void ExceptionReporter::captureAndLog(quint32 aCode, void *const *aAddresses, int aCount,
                                      bool aFirstIsExact)
{
    std::lock_guard guard(mLock);
    // The frames are read only by the log; looking them up costs a tenth of a second.
    if (!Logger::instance().isOn()) {
        mExceptionCode = aCode;
        mFrames.clear();
        return;
    }
    capture(aCode, aAddresses, aCount, aFirstIsExact);
    logReport();
}

QString ExceptionReporter::report() const
{
    std::lock_guard guard(mLock);
    QString text;
    const auto name = mNames.constFind(mExceptionCode);
    if (name != mNames.constEnd())
        text += QStringLiteral("Exception: ") + *name + QStringLiteral("\r\n");
    else
        text += QStringLiteral("Unknown Exception...\r\n");
    text += QString(66, QLatin1Char('-')) + QStringLiteral("\r\n");
    for (const ExceptionFrame &frame : mFrames) {
        const QString function =
            frame.mFunction.isEmpty() ? QStringLiteral("UnkownFunction") : frame.mFunction;
        const QString file = frame.mFile.isEmpty() ? QStringLiteral("UnkownFile") : frame.mFile;
        text += QStringLiteral("Function : ") + function + QStringLiteral("\r\n") +
                QStringLiteral("    [Source File : ") + file + QStringLiteral("]\r\n") +
                QStringLiteral("    [Source Line : ") + QString::number(frame.mLine) +
                QStringLiteral("]\r\n");
    }
    return text;
}

void ExceptionReporter::logReport() const
{
    Logger &log = Logger::instance();
    if (log.isOn())
        log.text(report());
}
