#pragma once

#include "core/exceptionframe.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <mutex>

// Process-wide report of the last exception caught by a guarded region: the
// exception's code under the Windows status names that support staff know,
// and the innermost frames of the stack where it happened.
class ExceptionReporter
{
public:
    enum Code : quint32
    {
        AccessViolation = 0xC0000005,
        DatatypeMisalignment = 0x80000002,
        Breakpoint = 0x80000003,
        SingleStep = 0x80000004,
        ArrayBoundsExceeded = 0xC000008C,
        FltDenormalOperand = 0xC000008D,
        FltDivideByZero = 0xC000008E,
        FltInexactResult = 0xC000008F,
        FltInvalidOperation = 0xC0000090,
        FltOverflow = 0xC0000091,
        FltStackCheck = 0xC0000092,
        FltUnderflow = 0xC0000093,
        IntDivideByZero = 0xC0000094,
        IntOverflow = 0xC0000095,
        PrivInstruction = 0xC0000096,
        InPageError = 0xC0000006,
        IllegalInstruction = 0xC000001D,
        NoncontinuableException = 0xC0000025,
        StackOverflow = 0xC00000FD,
        InvalidDisposition = 0xC0000026,
        GuardPage = 0x80000001,
        InvalidHandle = 0xC0000008,
        // What a C++ throw is known as to the Windows exception machinery; not in the map.
        CppException = 0xE06D7363,
    };

    static constexpr int MaxFrames = 6;
    static constexpr quint32 MachineX64 = 34404;
    static constexpr quint32 MachineX86 = 332;
    static constexpr quint32 MachineArm64 = 0xAA64;
    static constexpr quint32 MachineArm = 0x01C4;
    static constexpr quint32 MachineRiscV64 = 0x5064;
    static constexpr quint32 MachineOther = 0xFFFF;

    static ExceptionReporter &instance();

    // The machine type for a PROCESSOR_ARCHITECTURE value; a null pointer means
    // the variable is unset, which on Linux selects the architecture of this build.
    static quint32 machineTypeFor(const char *aArchitecture);

    // Records aCode and looks up the frames at aAddresses, innermost first. When
    // aFirstIsExact, the first address is the faulting instruction itself;
    // every other address is a return address.
    void capture(quint32 aCode, void *const *aAddresses, int aCount, bool aFirstIsExact);
    // Records a capture whose frames are already known.
    void setCapture(quint32 aCode, const QList<ExceptionFrame> &aFrames);
    // Captures and logs in one step, so that captures of two threads do not mix.
    // With the log off only the code is kept.
    void captureAndLog(quint32 aCode, void *const *aAddresses, int aCount, bool aFirstIsExact);

    QString report() const;
    void logReport() const;

    QString nameOf(quint32 aCode) const { return mNames.value(aCode); }
    int nameCount() const { return int(mNames.size()); }
    quint32 exceptionCode() const { return mExceptionCode; }
    QList<ExceptionFrame> frames() const { return mFrames; }
    quint32 machineType() const { return mMachineType; }
    void setMachineType(quint32 aType) { mMachineType = aType; }

    ExceptionReporter(const ExceptionReporter &) = delete;
    ExceptionReporter &operator=(const ExceptionReporter &) = delete;

private:
    ExceptionReporter();

    quint32 mExceptionCode = 0;
    QHash<quint32, QString> mNames;
    QList<ExceptionFrame> mFrames;
    quint32 mMachineType = 0;
    mutable std::recursive_mutex mLock;
};
