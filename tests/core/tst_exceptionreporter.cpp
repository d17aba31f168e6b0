#include "core/exceptionreporter.h"
#include "core/guardedregion.h"
#include "core/logger.h"
#include "testhome.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <atomic>

#include <csignal>
#include <fcntl.h>
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

FAULTING int recurse(int aDepth)
{
    volatile char pad[512];
    pad[aDepth % 512] = char(aDepth);
    return aDepth == gNever ? 0 : recurse(aDepth + 1) + pad[0];
}

FAULTING void touchTruncatedMapping()
{
    const long page = sysconf(_SC_PAGESIZE);
    const int fd = open(gBusFile.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, page) != 0)
        return;
    void *const mapping = mmap(nullptr, size_t(page), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const bool truncated = ftruncate(fd, 0) == 0;
    close(fd);
    if (mapping != MAP_FAILED && truncated)
        static_cast<volatile char *>(mapping)[0] = 1;
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
};

// The first line and the number of frames of every report in the log.
QList<std::pair<QString, int>> reportsIn(const QString &aLogPath)
{
    QFile file(aLogPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression start(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d    "
                       "(Exception: [A-Z_]+|Unknown Exception\\.\\.\\.)$"));
    QList<std::pair<QString, int>> reports;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
        const QRegularExpressionMatch head = start.match(line);
        if (head.hasMatch())
            reports.append({head.captured(1), 0});
        else if (!reports.isEmpty() && line.startsWith(QStringLiteral("Function : ")))
            ++reports.last().second;
    }
    return reports;
}

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
    void signalsOutsideARegionKeepTheirBehaviour();
    void faultInsideALogWriteReleasesTheLog();

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
}

void TestExceptionReporter::eachFaultIsReportedAndSurvived()
{
    QFETCH(void *, raise);
    QFETCH(QString, firstLine);
    const auto fault = reinterpret_cast<void (*)()>(raise);
    bool onWorker = true;
    std::thread worker([&] { onWorker = GuardedRegion::run(fault); });
    worker.join();
    QVERIFY(!onWorker);

    const QList<std::pair<QString, int>> reports = reportsIn(mLogPath);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].first, firstLine);
    QVERIFY(reports[0].second > 0 && reports[0].second <= ExceptionReporter::MaxFrames);
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

void TestExceptionReporter::faultInsideALogWriteReleasesTheLog()
{
    // The report, and every later line, needs the lock that the faulting write held.
    std::atomic<bool> done = false;
    std::thread worker([&] {
        const char *volatile wild = reinterpret_cast<const char *>(quintptr(8));
        GuardedRegion::run([&] { Logger::instance().enter(wild); });
        Logger::instance().text("after");
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done.load(); }, 5000)) {
        worker.detach();
        QFAIL("the log lock is still held after the fault");
    }
    worker.join();
    QCOMPARE(reportsIn(mLogPath).value(0).first,
             QStringLiteral("Exception: EXCEPTION_ACCESS_VIOLATION"));
    QFile log(mLogPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith("    after\r\n"));
}

QTEST_GUILESS_MAIN(TestExceptionReporter)
#include "tst_exceptionreporter.moc"
