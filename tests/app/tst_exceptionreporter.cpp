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

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// Faults must happen where written: no inlining, no folding, no sanitizer trap first.
#define FAULTING __attribute__((noinline, no_sanitize("undefined")))

namespace {

// QtTest's own crash handler would start gdb in the children that are meant to die.
struct NoStackDump
{
    NoStackDump() { qputenv("QTEST_DISABLE_STACK_DUMP", "1"); }
} noStackDump;

volatile int gSink = 0;
volatile int gNever = -1;
QByteArray gBusFile;
void *gBusMapping = nullptr;

FAULTING int recurse(int aDepth)
{
    volatile char pad[512];
    pad[aDepth % 512] = char(aDepth);
    return aDepth == gNever ? 0 : recurse(aDepth + 1) + pad[0];
}

FAULTING void touchTruncatedMapping()
{
    const long page = sysconf(_SC_PAGESIZE);
    if (gBusMapping && gBusMapping != MAP_FAILED)
        munmap(gBusMapping, size_t(page));
    const int fd = open(gBusFile.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, page) != 0)
        return;
    gBusMapping = mmap(nullptr, size_t(page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const bool truncated = ftruncate(fd, 0) == 0;
    close(fd);
    if (gBusMapping != MAP_FAILED && truncated)
        static_cast<volatile char *>(gBusMapping)[0] = 1;
}

FAULTING void breakpoint()
{
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("int3");
#else
    raise(SIGTRAP);
#endif
}

struct Fault
{
    FAULTING static void nullWrite()
    {
        volatile int *volatile target = nullptr;
        *target = 1;
    }
    FAULTING static void divideByZero() { gSink = 42 / (gSink - gSink); }
    FAULTING static void trap() { __builtin_trap(); }
    FAULTING static void stackOverflow() { gSink = recurse(0); }
    FAULTING static void runtimeError() { throw std::runtime_error("broken track"); }
    FAULTING static void thrownInt() { throw 42; }
};

struct LoggedReport
{
    QString mFirstLine;
    int mFrames = 0;
    bool mFrameHere = false; // a frame of this file with a line number
};

// Reads back the first line and the frames of every report in the log.
QList<LoggedReport> reportsIn(const QString &aLogPath)
{
    QFile file(aLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    static const QRegularExpression start(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d    "
                       "(Exception: [A-Z_]+|Unknown Exception\\.\\.\\.)$"));
    static const QRegularExpression here(
        QStringLiteral("^    \\[Source File : .*tst_exceptionreporter\\.cpp\\]$"));
    QList<LoggedReport> reports;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch head = start.match(lines[i]);
        if (head.hasMatch())
            reports.append({head.captured(1)});
        else if (!reports.isEmpty() && lines[i].startsWith(QStringLiteral("Function : ")))
            ++reports.last().mFrames;
        else if (!reports.isEmpty() && here.match(lines[i]).hasMatch() && i + 1 < lines.size())
            reports.last().mFrameHere |= !lines[i + 1].endsWith(QStringLiteral(": 0]"));
    }
    return reports;
}

QStringList firstLines(const QString &aLogPath)
{
    QStringList result;
    for (const LoggedReport &report : reportsIn(aLogPath))
        result.append(report.mFirstLine);
    return result;
}

// Runs aWork on a thread of its own; false when it has not finished within five seconds.
bool finishesSoon(const std::function<void()> &aWork)
{
    QThread *thread = QThread::create(aWork);
    thread->start();
    const bool finished = thread->wait(QDeadlineTimer(5000));
    if (finished)
        delete thread; // a thread that hangs is left behind on purpose
    return finished;
}

const QString AccessViolation = QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION");

} // namespace

class TestExceptionReporter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { mHome.reset(); }
    void reportLayout();
    void eachFaultIsReportedAndSurvived_data();
    void eachFaultIsReportedAndSurvived();
    void logOffKeepsOnlyTheCode();
    void callerGoesOnAndInnerRegionCatchesFirst();
    void faultInsideALogWriteLeavesTheLogUsable();
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

void TestExceptionReporter::reportLayout()
{
    // Empty lookups are named, and only the six innermost frames are kept.
    QList<ExceptionFrame> frames{{}};
    QString expected =
        QStringLiteral("Exception: EXCEPTION_STACK_OVERFLOW\r\n") + QString(66, QLatin1Char('-')) +
        QStringLiteral("\r\nFunction : UnkownFunction\r\n"
                       "    [Source File : UnkownFile]\r\n    [Source Line : 0]\r\n");
    for (int i = 1; i < 8; ++i) {
        frames.append({QStringLiteral("f%1(int)").arg(i), QStringLiteral("/src/g.cpp"), i});
        if (i < 6)
            expected += QStringLiteral("Function : f%1(int)\r\n    [Source File : /src/g.cpp]\r\n"
                                       "    [Source Line : %1]\r\n")
                            .arg(i);
    }
    ExceptionReporter &reporter = ExceptionReporter::instance();
    reporter.setCapture(ExceptionReporter::StackOverflow, frames);
    QCOMPARE(reporter.report(), expected);
    reporter.logReport();
    QFile log(mLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().mid(12), QByteArray("    ") + expected.toUtf8() + "\r\n");
}

void TestExceptionReporter::eachFaultIsReportedAndSurvived_data()
{
    QTest::addColumn<void *>("raise");
    QTest::addColumn<QString>("firstLine");
    const auto row = [](const char *aName, void (*aRaise)(), const char *aLine) {
        QTest::newRow(aName) << reinterpret_cast<void *>(aRaise) << QString::fromLatin1(aLine);
    };
    row("null write", Fault::nullWrite, "Exception: EXCEPTION_ACCESS_VIOLATION");
    row("divide by zero", Fault::divideByZero, "Exception: EXCEPTION_INT_DIVIDE_BY_ZERO");
    row("trap instruction", Fault::trap, "Exception: EXCEPTION_ILLEGAL_INSTRUCTION");
    row("breakpoint", breakpoint, "Exception: EXCEPTION_BREAKPOINT");
    row("truncated mapping", touchTruncatedMapping, "Exception: EXCEPTION_IN_PAGE_ERROR");
    row("stack overflow", Fault::stackOverflow, "Exception: EXCEPTION_STACK_OVERFLOW");
    row("runtime_error", Fault::runtimeError, "Unknown Exception...");
    row("thrown int", Fault::thrownInt, "Unknown Exception...");
}

void TestExceptionReporter::eachFaultIsReportedAndSurvived()
{
    QFETCH(void *, raise);
    QFETCH(QString, firstLine);
    const auto fault = reinterpret_cast<void (*)()>(raise);
    QVERIFY(!GuardedRegion::run(fault));
    QVERIFY(!GuardedRegion::isActive());
    bool onWorker = true;
    std::thread worker([&] { onWorker = GuardedRegion::run(fault); });
    worker.join();
    QVERIFY(!onWorker);

    const QList<LoggedReport> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 2);
    for (const LoggedReport &report : reports) {
        QCOMPARE(report.mFirstLine, firstLine);
        QVERIFY(report.mFrames > 0 && report.mFrames <= ExceptionReporter::MaxFrames);
#if HAVE_LIBDW
        QVERIFY(report.mFrameHere);
#endif
    }
}

void TestExceptionReporter::logOffKeepsOnlyTheCode()
{
    mHome->disableLog();
    QVERIFY(!GuardedRegion::run(Fault::divideByZero));
    const ExceptionReporter &reporter = ExceptionReporter::instance();
    QCOMPARE(reporter.exceptionCode(), quint32(ExceptionReporter::IntDivideByZero));
    QVERIFY(reporter.frames().isEmpty());
    QCOMPARE(QFileInfo(mLogPath).size(), 0);
}

void TestExceptionReporter::callerGoesOnAndInnerRegionCatchesFirst()
{
    QList<int> processed;
    QList<bool> results;
    for (int track = 0; track < 5; ++track) {
        results.append(GuardedRegion::run([&] {
            if (track == 2)
                Fault::nullWrite();
            if (track == 3)
                Fault::runtimeError();
            processed.append(track);
        }));
    }
    QCOMPARE(processed, (QList<int>{0, 1, 4}));
    QCOMPARE(results, (QList<bool>{true, true, false, false, true}));

    bool innerResult = true;
    bool afterInner = false;
    QVERIFY(GuardedRegion::run([&] {
        innerResult = GuardedRegion::run(Fault::divideByZero);
        afterInner = GuardedRegion::isActive();
    }));
    QVERIFY(!innerResult);
    QVERIFY(afterInner);
    QVERIFY(!GuardedRegion::isActive());
    QCOMPARE(firstLines(mLogPath),
             (QStringList{AccessViolation, QStringLiteral("Unknown Exception..."),
                          QStringLiteral("Exception: EXCEPTION_INT_DIVIDE_BY_ZERO")}));
}

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
    QCOMPARE(firstLines(mLogPath), QStringList{AccessViolation});
    QFile log(mLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("    other thread\r\n"));
}

void TestExceptionReporter::signalsOutsideARegionKeepTheirBehaviour()
{
    // A fault on a worker while main is in a region, then one after a region has ended.
    for (const bool onWorker : {true, false}) {
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (onWorker)
                GuardedRegion::run([] { std::thread(Fault::nullWrite).join(); });
            else if (!GuardedRegion::run(Fault::nullWrite))
                Fault::nullWrite();
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("status %1").arg(status)));
        QCOMPARE(WTERMSIG(status), SIGSEGV);
    }
}

QTEST_GUILESS_MAIN(TestExceptionReporter)
#include "tst_exceptionreporter.moc"
