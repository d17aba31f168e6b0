#include "librarywaiter.h"

#include "interrupts.h"
#include "library/librarysnapshotstore.h"
#include "library/xmlitunesappfactory.h"
#include "syncclioptions.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>

namespace {
constexpr int PollMs = 100;
}

QString LibraryWaiter::libraryFile(const QString &aOverride)
{
    return aOverride.isEmpty() ? XmlITunesAppFactory::configuredLibraryFile()
                               : QFileInfo(aOverride).absoluteFilePath();
}

int LibraryWaiter::waitUntilReadable(const QString &aPath, int aSeconds, QString &aMessage)
{
    aMessage.clear();
    if (!QFileInfo(aPath).isFile()) {
        aMessage = QStringLiteral("library file not found: %1").arg(aPath);
        return ExitCode::NoInput;
    }
    const QDeadlineTimer deadline(qint64(aSeconds) * 1000);
    for (;;) {
        std::shared_ptr<const LibrarySnapshot> snapshot;
        LibrarySnapshotStore::Problem problem;
        if (!ITResult::failed(LibrarySnapshotStore::instance().load(aPath, snapshot, &problem)))
            return 0;
        if (problem.mKind == LibrarySnapshotStore::Problem::Malformed) {
            aMessage =
                QStringLiteral("the library file %1 is malformed: %2").arg(aPath, problem.mDetail);
            return ExitCode::DataError;
        }
        if (problem.mKind == LibrarySnapshotStore::Problem::NotALibrary) {
            aMessage = QStringLiteral("%1 is not an iTunes library file (no property list with "
                                      "a Tracks dictionary)")
                           .arg(aPath);
            return ExitCode::DataError;
        }
        if (!QFileInfo(aPath).isFile()) {
            aMessage = QStringLiteral("library file not found: %1").arg(aPath);
            return ExitCode::NoInput;
        }
        if (Interrupts::raised()) {
            aMessage = QStringLiteral("interrupted while waiting for the library");
            return ExitCode::Interrupted;
        }
        if (deadline.hasExpired()) {
            aMessage = QStringLiteral("the library file %1 is still busy (unreadable, or not "
                                      "complete) after %2 seconds; try again later or give a "
                                      "longer --wait")
                           .arg(aPath)
                           .arg(aSeconds);
            return ExitCode::TemporaryFailure;
        }
        QThread::msleep(PollMs);
    }
}
