#include "app/exceptionreporter.h"
#include "app/guardedregion.h"
#include "app/logger.h"
#include "config.h"
#include "testhome.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Faults must happen where written: no inlining, no folding, no sanitizer trap first.
#define FAULTING __attribute__((noinline, no_sanitize("undefined")))

namespace {

const QString ThisFile = QStringLiteral("tst_exceptionreporter.cpp");

// QtTest's own crash handler would start gdb in the children that are meant to die.
struct NoStackDump
{
    NoStackDump() { qputenv("QTEST_DISABLE_STACK_DUMP", "1"); }
} noStackDump;

volatile int gSink = 0;
volatile int gNever = -1;
QByteArray gBusFile;
void *gBusMapping = nullptr;

FAULTING void writeThroughNull()
{
    volatile int *volatile target = nullptr;
    *target = 1;
}

FAULTING void divideByZero()
{
    volatile int zero = 0;
    gSink = 42 / zero;
}

FAULTING void executeTrap()
{
    __builtin_trap();
}

FAULTING void raiseIllegal()
{
    raise(SIGILL);
}

FAULTING void hitBreakpoint()
{
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("int3");
#else
    raise(SIGTRAP);
#endif
}

FAULTING void raiseTrap()
{
    raise(SIGTRAP);
}

FAULTING void touchTruncatedMapping()
{
    const long page = sysconf(_SC_PAGESIZE);
    const int fd = open(gBusFile.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, page) != 0)
        return;
    gBusMapping = mmap(nullptr, size_t(page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const bool truncated = ftruncate(fd, 0) == 0;
    close(fd);
    if (gBusMapping == MAP_FAILED || !truncated)
        return;
    static_cast<volatile char *>(gBusMapping)[0] = 1;
}

FAULTING int recurse(int aDepth)
{
    volatile char pad[512];
    pad[aDepth % 512] = char(aDepth);
    if (aDepth == gNever)
        return 0;
    return recurse(aDepth + 1) + pad[0];
}

FAULTING void overflowStack()
{
    gSink = recurse(0);
}

FAULTING void throwRuntimeError()
{
    throw std::runtime_error("broken track");
}

FAULTING void throwInt()
{
    throw 42;
}

struct FaultKind
{
    const char *mName;
    void (*mRaise)();
    QString mFirstLine;
};

const FaultKind Kinds[] = {
    {"null write", writeThroughNull, QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION")},
    {"divide by zero", divideByZero, QStringLiteral("Exception: EXCEPTION_INT_DIVIDE_BY_ZERO")},
    {"trap instruction", executeTrap, QStringLiteral("Exception: EXCEPTION_ILLEGAL_INSTRUCTION")},
    {"raise SIGILL", raiseIllegal, QStringLiteral("Exception: EXCEPTION_ILLEGAL_INSTRUCTION")},
    {"breakpoint", hitBreakpoint, QStringLiteral("Exception: EXCEPTION_BREAKPOINT")},
    {"raise SIGTRAP", raiseTrap, QStringLiteral("Exception: EXCEPTION_BREAKPOINT")},
    {"truncated mapping", touchTruncatedMapping,
     QStringLiteral("Exception: EXCEPTION_IN_PAGE_ERROR")},
    {"stack overflow", overflowStack, QStringLiteral("Exception: EXCEPTION_STACK_OVERFLOW")},
    {"runtime_error", throwRuntimeError, QStringLiteral("Unknown Exception...")},
    {"thrown int", throwInt, QStringLiteral("Unknown Exception...")},
};

struct LoggedReport
{
    QString mFirstLine;
    QList<ExceptionFrame> mFrames;
    QString mFault; // empty when the text has the expected layout
};

const QString Separator = QString(66, QLatin1Char('-'));

// Reads back every report of the log, checking each line of its layout.
QList<LoggedReport> reportsIn(const QString &aLogPath)
{
    QFile file(aLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    static const QRegularExpression start(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d    "
                       "(Exception: [A-Z_]+|Unknown Exception\\.\\.\\.)$"));
    static const QRegularExpression function(QStringLiteral("^Function : (.+)$"));
    static const QRegularExpression source(QStringLiteral("^    \\[Source File : (.+)\\]$"));
    static const QRegularExpression line(QStringLiteral("^    \\[Source Line : (\\d+)\\]$"));
    QList<LoggedReport> reports;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch head = start.match(lines[i]);
        if (!head.hasMatch())
            continue;
        LoggedReport report;
        report.mFirstLine = head.captured(1);
        if (i + 1 >= lines.size() || lines[++i] != Separator)
            report.mFault = QStringLiteral("no separator line");
        while (report.mFault.isEmpty() && ++i < lines.size() && !lines[i].isEmpty()) {
            const auto f = function.match(lines[i]);
            const auto s =
                i + 1 < lines.size() ? source.match(lines[i + 1]) : QRegularExpressionMatch();
            const auto l =
                i + 2 < lines.size() ? line.match(lines[i + 2]) : QRegularExpressionMatch();
            if (!f.hasMatch() || !s.hasMatch() || !l.hasMatch()) {
                report.mFault = QStringLiteral("bad frame at: ") + lines[i];
                break;
            }
            report.mFrames.append({f.captured(1), s.captured(1), l.captured(1).toInt()});
            i += 2;
        }
        reports.append(report);
    }
    return reports;
}

bool hasFrameInThisFile(const LoggedReport &aReport)
{
    for (const ExceptionFrame &frame : aReport.mFrames) {
        if (frame.mFile.endsWith(ThisFile) && frame.mLine > 0)
            return true;
    }
    return false;
}

QString describe(const LoggedReport &aReport)
{
    QString text = aReport.mFirstLine + QLatin1Char('\n');
    for (const ExceptionFrame &frame : aReport.mFrames)
        text += frame.mFunction + QLatin1String(" @ ") + frame.mFile + QLatin1Char(':') +
                QString::number(frame.mLine) + QLatin1Char('\n');
    return text;
}

bool runOnWorker(void (*aRaise)())
{
    bool result = true;
    std::thread worker([&] { result = GuardedRegion::run(aRaise); });
    worker.join();
    return result;
}

// Sends this thread a signal that looks as if the kernel raised it.
void sendFault(int aSignal, int aCode, void *aAddress)
{
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    info.si_signo = aSignal;
    info.si_code = aCode;
    info.si_addr = aAddress;
    syscall(SYS_rt_tgsigqueueinfo, getpid(), gettid(), aSignal, &info);
}

char *stackLimitOfThisThread()
{
    pthread_attr_t attributes;
    void *address = nullptr;
    size_t size = 0;
    pthread_getattr_np(pthread_self(), &attributes);
    pthread_attr_getstack(&attributes, &address, &size);
    pthread_attr_destroy(&attributes);
    return static_cast<char *>(address);
}

} // namespace

class TestExceptionReporter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void namesAreTheStatusCodes_data();
    void namesAreTheStatusCodes();
    void reportLayout_data();
    void reportLayout();
    void machineType_data();
    void machineType();
    void noFramesWithoutMachineType();
    void logOffKeepsOnlyTheCode();
    void eachFaultIsReportedAndSurvived_data();
    void eachFaultIsReportedAndSurvived();
    void signalCodesMapToStatusNames_data();
    void signalCodesMapToStatusNames();
    void nextTrackIsProcessedAfterAFailure();
    void innerRegionCatchesFirst();
    void faultInsideALogWriteLeavesTheLogUsable();
    void signalsOutsideARegionKeepTheirBehaviour_data();
    void signalsOutsideARegionKeepTheirBehaviour();

private:
    std::unique_ptr<TestHome> mHome;
    QString mLogPath;
};

void TestExceptionReporter::init()
{
    mHome = std::make_unique<TestHome>();
    mLogPath = mHome->enableLog();
    gBusFile = QFile::encodeName(mHome->filePath(QStringLiteral("mapped.bin")));
}

void TestExceptionReporter::cleanup()
{
    if (gBusMapping && gBusMapping != MAP_FAILED)
        munmap(gBusMapping, size_t(sysconf(_SC_PAGESIZE)));
    gBusMapping = nullptr;
    mHome.reset();
}

void TestExceptionReporter::namesAreTheStatusCodes_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("name");
    const std::pair<quint32, const char *> known[] = {
        {0xC0000005, "ACCESS_VIOLATION"},
        {0x80000002, "DATATYPE_MISALIGNMENT"},
        {0x80000003, "BREAKPOINT"},
        {0x80000004, "SINGLE_STEP"},
        {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008D, "FLT_DENORMAL_OPERAND"},
        {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
        {0xC000008F, "FLT_INEXACT_RESULT"},
        {0xC0000090, "FLT_INVALID_OPERATION"},
        {0xC0000091, "FLT_OVERFLOW"},
        {0xC0000092, "FLT_STACK_CHECK"},
        {0xC0000093, "FLT_UNDERFLOW"},
        {0xC0000094, "INT_DIVIDE_BY_ZERO"},
        {0xC0000095, "INT_OVERFLOW"},
        {0xC0000096, "PRIV_INSTRUCTION"},
        {0xC0000006, "IN_PAGE_ERROR"},
        {0xC000001D, "ILLEGAL_INSTRUCTION"},
        {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
        {0xC00000FD, "STACK_OVERFLOW"},
        {0xC0000026, "INVALID_DISPOSITION"},
        {0x80000001, "GUARD_PAGE"},
        {0xC0000008, "INVALID_HANDLE"},
    };
    for (const auto &[code, name] : known)
        QTest::newRow(name) << code << QStringLiteral("EXCEPTION_") + QLatin1String(name);
}

void TestExceptionReporter::namesAreTheStatusCodes()
{
    QFETCH(quint32, code);
    QFETCH(QString, name);
    const ExceptionReporter &reporter = ExceptionReporter::instance();
    QCOMPARE(reporter.nameCount(), 22);
    QCOMPARE(reporter.nameOf(code), name);
}

void TestExceptionReporter::reportLayout_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QList<ExceptionFrame>>("frames");
    QTest::addColumn<QString>("expected");
    const QString rule = Separator + QStringLiteral("\r\n");
    QTest::newRow("unknown code, no frames") << quint32(0x12345678) << QList<ExceptionFrame>()
                                             << QStringLiteral("Unknown Exception...\r\n") + rule;
    QTest::newRow("empty lookups")
        << quint32(ExceptionReporter::CppException) << QList<ExceptionFrame>{{}}
        << QStringLiteral("Unknown Exception...\r\n") + rule +
               QStringLiteral("Function : UnkownFunction\r\n    [Source File : UnkownFile]\r\n"
                              "    [Source Line : 0]\r\n");
    QTest::newRow("named code, innermost first")
        << quint32(ExceptionReporter::AccessViolation)
        << QList<ExceptionFrame>{{QStringLiteral("Upload::copy(int)"),
                                  QStringLiteral("/src/upload.cpp"), 42},
                                 {QStringLiteral("main"), QString(), 0}}
        << QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION\r\n") + rule +
               QStringLiteral("Function : Upload::copy(int)\r\n    [Source File : "
                              "/src/upload.cpp]\r\n    [Source Line : 42]\r\n"
                              "Function : main\r\n    [Source File : UnkownFile]\r\n"
                              "    [Source Line : 0]\r\n");
    QList<ExceptionFrame> eight;
    QString six;
    for (int i = 0; i < 8; ++i) {
        eight.append({QStringLiteral("f%1").arg(i), QStringLiteral("g.cpp"), i + 1});
        if (i < 6)
            six += QStringLiteral("Function : f%1\r\n    [Source File : g.cpp]\r\n"
                                  "    [Source Line : %2]\r\n")
                       .arg(i)
                       .arg(i + 1);
    }
    QTest::newRow("at most six frames")
        << quint32(ExceptionReporter::StackOverflow) << eight
        << QStringLiteral("Exception: EXCEPTION_STACK_OVERFLOW\r\n") + rule + six;
}

void TestExceptionReporter::reportLayout()
{
    QFETCH(quint32, code);
    QFETCH(QList<ExceptionFrame>, frames);
    QFETCH(QString, expected);
    ExceptionReporter &reporter = ExceptionReporter::instance();
    reporter.setCapture(code, frames);
    QCOMPARE(reporter.report(), expected);

    reporter.logReport();
    QFile log(mLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray written = log.readAll();
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d$"));
    QVERIFY(stamp.match(QString::fromLatin1(written.left(12))).hasMatch());
    QCOMPARE(written.mid(12), QByteArray("    ") + expected.toUtf8() + "\r\n");
}

void TestExceptionReporter::machineType_data()
{
    QTest::addColumn<QByteArray>("architecture");
    QTest::addColumn<bool>("isSet");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("EM64T") << QByteArray("EM64T") << true << quint32(34404);
    QTest::newRow("AMD64") << QByteArray("AMD64") << true << quint32(34404);
    QTest::newRow("x86") << QByteArray("x86") << true << quint32(332);
    QTest::newRow("lower-case amd64") << QByteArray("amd64") << true << quint32(0);
    QTest::newRow("IA64") << QByteArray("IA64") << true << quint32(0);
    QTest::newRow("empty") << QByteArray("") << true << quint32(0);
#if defined(__x86_64__)
    QTest::newRow("unset") << QByteArray() << false << quint32(34404);
#elif defined(__i386__)
    QTest::newRow("unset") << QByteArray() << false << quint32(332);
#endif
}

void TestExceptionReporter::machineType()
{
    QFETCH(QByteArray, architecture);
    QFETCH(bool, isSet);
    QFETCH(quint32, expected);
    QCOMPARE(ExceptionReporter::machineTypeFor(isSet ? architecture.constData() : nullptr),
             expected);
    QVERIFY(ExceptionReporter::machineTypeFor(nullptr) != 0);
}

void TestExceptionReporter::noFramesWithoutMachineType()
{
    ExceptionReporter &reporter = ExceptionReporter::instance();
    const quint32 machine = reporter.machineType();
    reporter.setMachineType(0);
    const bool survived = GuardedRegion::run(writeThroughNull);
    reporter.setMachineType(machine);
    QVERIFY(!survived);
    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].mFault, QString());
    QCOMPARE(reports[0].mFirstLine, QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION"));
    QVERIFY(reports[0].mFrames.isEmpty());
}

void TestExceptionReporter::logOffKeepsOnlyTheCode()
{
    mHome->disableLog();
    QVERIFY(!GuardedRegion::run(divideByZero));
    const ExceptionReporter &reporter = ExceptionReporter::instance();
    QCOMPARE(reporter.exceptionCode(), quint32(ExceptionReporter::IntDivideByZero));
    QVERIFY(reporter.frames().isEmpty());
    QCOMPARE(QFileInfo(mLogPath).size(), 0);
}

void TestExceptionReporter::eachFaultIsReportedAndSurvived_data()
{
    QTest::addColumn<int>("kind");
    for (int i = 0; i < int(std::size(Kinds)); ++i)
        QTest::newRow(Kinds[i].mName) << i;
}

void TestExceptionReporter::eachFaultIsReportedAndSurvived()
{
    QFETCH(int, kind);
    const FaultKind &fault = Kinds[kind];
    QVERIFY(!GuardedRegion::run(fault.mRaise));
    QVERIFY(!GuardedRegion::isActive());
    if (fault.mRaise == touchTruncatedMapping)
        munmap(std::exchange(gBusMapping, nullptr), size_t(sysconf(_SC_PAGESIZE)));
    QVERIFY(!runOnWorker(fault.mRaise));

    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 2);
    for (const LoggedReport &report : reports) {
        QVERIFY2(report.mFault.isEmpty(), qPrintable(report.mFault));
        QCOMPARE(report.mFirstLine, fault.mFirstLine);
        QVERIFY(!report.mFrames.isEmpty());
        QVERIFY(report.mFrames.size() <= ExceptionReporter::MaxFrames);
#if HAVE_LIBDW
        QVERIFY2(hasFrameInThisFile(report), qPrintable(describe(report)));
#endif
    }
}

void TestExceptionReporter::signalCodesMapToStatusNames_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("atStackLimit");
    QTest::addColumn<QString>("name");
    QTest::newRow("SEGV_MAPERR") << SIGSEGV << int(SEGV_MAPERR) << false << "ACCESS_VIOLATION";
    QTest::newRow("SEGV_ACCERR") << SIGSEGV << int(SEGV_ACCERR) << false << "ACCESS_VIOLATION";
    QTest::newRow("SEGV at the stack limit")
        << SIGSEGV << int(SEGV_MAPERR) << true << "STACK_OVERFLOW";
    QTest::newRow("BUS_ADRALN") << SIGBUS << int(BUS_ADRALN) << false << "DATATYPE_MISALIGNMENT";
    QTest::newRow("BUS_ADRERR") << SIGBUS << int(BUS_ADRERR) << false << "IN_PAGE_ERROR";
    QTest::newRow("BUS_OBJERR") << SIGBUS << int(BUS_OBJERR) << false << "IN_PAGE_ERROR";
    QTest::newRow("FPE_INTDIV") << SIGFPE << int(FPE_INTDIV) << false << "INT_DIVIDE_BY_ZERO";
    QTest::newRow("FPE_INTOVF") << SIGFPE << int(FPE_INTOVF) << false << "INT_OVERFLOW";
    QTest::newRow("FPE_FLTDIV") << SIGFPE << int(FPE_FLTDIV) << false << "FLT_DIVIDE_BY_ZERO";
    QTest::newRow("FPE_FLTOVF") << SIGFPE << int(FPE_FLTOVF) << false << "FLT_OVERFLOW";
    QTest::newRow("FPE_FLTUND") << SIGFPE << int(FPE_FLTUND) << false << "FLT_UNDERFLOW";
    QTest::newRow("FPE_FLTRES") << SIGFPE << int(FPE_FLTRES) << false << "FLT_INEXACT_RESULT";
    QTest::newRow("FPE_FLTINV") << SIGFPE << int(FPE_FLTINV) << false << "FLT_INVALID_OPERATION";
    QTest::newRow("FPE_FLTSUB") << SIGFPE << int(FPE_FLTSUB) << false << "ARRAY_BOUNDS_EXCEEDED";
    QTest::newRow("ILL_PRVOPC") << SIGILL << int(ILL_PRVOPC) << false << "PRIV_INSTRUCTION";
    QTest::newRow("ILL_PRVREG") << SIGILL << int(ILL_PRVREG) << false << "PRIV_INSTRUCTION";
    QTest::newRow("ILL_ILLOPC") << SIGILL << int(ILL_ILLOPC) << false << "ILLEGAL_INSTRUCTION";
    QTest::newRow("TRAP_BRKPT") << SIGTRAP << int(TRAP_BRKPT) << false << "BREAKPOINT";
    QTest::newRow("TRAP_TRACE") << SIGTRAP << int(TRAP_TRACE) << false << "SINGLE_STEP";
}

void TestExceptionReporter::signalCodesMapToStatusNames()
{
    QFETCH(int, signal);
    QFETCH(int, code);
    QFETCH(bool, atStackLimit);
    QFETCH(QString, name);
    void *address = atStackLimit ? stackLimitOfThisThread() + 16 : nullptr;
    QVERIFY(!GuardedRegion::run([&] { sendFault(signal, code, address); }));
    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].mFirstLine, QStringLiteral("Exception: EXCEPTION_") + name);
}

void TestExceptionReporter::nextTrackIsProcessedAfterAFailure()
{
    QList<int> processed;
    QList<bool> results;
    for (int track = 0; track < 5; ++track) {
        results.append(GuardedRegion::run([&] {
            if (track == 2)
                writeThroughNull();
            if (track == 3)
                throwRuntimeError();
            processed.append(track);
        }));
    }
    QCOMPARE(processed, (QList<int>{0, 1, 4}));
    QCOMPARE(results, (QList<bool>{true, true, false, false, true}));
    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0].mFirstLine, QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION"));
    QCOMPARE(reports[1].mFirstLine, QStringLiteral("Unknown Exception..."));
}

void TestExceptionReporter::innerRegionCatchesFirst()
{
    bool innerResult = true;
    bool afterInner = false;
    const bool outerResult = GuardedRegion::run([&] {
        innerResult = GuardedRegion::run(divideByZero);
        afterInner = GuardedRegion::isActive();
    });
    QVERIFY(!innerResult);
    QVERIFY(afterInner);
    QVERIFY(outerResult);
    QVERIFY(!GuardedRegion::isActive());

    bool reachedEnd = false;
    QVERIFY(!GuardedRegion::run([&] {
        QVERIFY(GuardedRegion::run([] {}));
        writeThroughNull();
        reachedEnd = true;
    }));
    QVERIFY(!reachedEnd);
    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0].mFirstLine, QStringLiteral("Exception: EXCEPTION_INT_DIVIDE_BY_ZERO"));
    QCOMPARE(reports[1].mFirstLine, QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION"));
}

namespace {
// Runs aWork on a thread of its own; false when it has not finished within five seconds.
bool finishesSoon(const std::function<void()> &aWork)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([aWork, done] {
        aWork();
        *done = true;
    });
    for (int i = 0; i < 500 && !*done; ++i)
        QThread::msleep(10);
    if (!*done) {
        thread.detach();
        return false;
    }
    thread.join();
    return true;
}
} // namespace

void TestExceptionReporter::faultInsideALogWriteLeavesTheLogUsable()
{
    bool result = true;
    QVERIFY2(finishesSoon([&] {
                 const char *volatile wild = reinterpret_cast<const char *>(quintptr(8));
                 result = GuardedRegion::run([&] { Logger::instance().enter(wild); });
             }),
             "the report waits for a lock its own thread holds");
    QVERIFY(!result);
    QVERIFY2(finishesSoon([] { Logger::instance().text("other thread"); }),
             "the log lock is still held after the fault");

    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].mFault, QString());
    QCOMPARE(reports[0].mFirstLine, QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION"));
    QFile log(mLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.contains(">> \r\n"));
    QVERIFY(text.endsWith("    other thread\r\n"));
}

void TestExceptionReporter::signalsOutsideARegionKeepTheirBehaviour_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<int>("signal");
    QTest::newRow("null write, no region") << 0 << SIGSEGV;
    QTest::newRow("null write on a worker while main is in a region") << 1 << SIGSEGV;
    QTest::newRow("raised SIGFPE, no region") << 2 << SIGFPE;
    QTest::newRow("after a region has ended") << 3 << SIGSEGV;
}

void TestExceptionReporter::signalsOutsideARegionKeepTheirBehaviour()
{
    QFETCH(int, scenario);
    QFETCH(int, signal);
    QVERIFY(GuardedRegion::run([] {}));
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        switch (scenario) {
        case 0:
            writeThroughNull();
            break;
        case 1:
            GuardedRegion::run([] {
                std::thread worker(writeThroughNull);
                worker.join();
            });
            break;
        case 2:
            raise(SIGFPE);
            break;
        default:
            GuardedRegion::run(writeThroughNull);
            writeThroughNull();
            break;
        }
        _exit(0);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("status %1").arg(status)));
    QCOMPARE(WTERMSIG(status), signal);
}

QTEST_GUILESS_MAIN(TestExceptionReporter)
#include "tst_exceptionreporter.moc"
