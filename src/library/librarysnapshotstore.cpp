#include "library/librarysnapshotstore.h"

#include "core/logger.h"
#include "library/libraryxmlparser.h"

#include <QFile>
#include <QFileInfo>

namespace {
constexpr int MaxEntries = 4;
}

LibrarySnapshotStore &LibrarySnapshotStore::instance()
{
    static LibrarySnapshotStore store;
    return store;
}

int LibrarySnapshotStore::parseCount() const
{
    QMutexLocker locker(&mLock);
    return mParseCount;
}

HResult LibrarySnapshotStore::load(const QString &aPath,
                                   std::shared_ptr<const LibrarySnapshot> &aSnapshot,
                                   Problem *aProblem)
{
    Logger &log = Logger::instance();
    aSnapshot.reset();
    Problem ignored;
    Problem &problem = aProblem ? *aProblem : ignored;
    problem = Problem();
    QFileInfo info(aPath);
    if (aPath.isEmpty() || !info.isFile()) {
        log.value("Library file not found", aPath);
        problem.mKind = Problem::Missing;
        return ITResult::ServerExecFailure;
    }
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    const qint64 changed = info.metadataChangeTime().toMSecsSinceEpoch();
    const QString key = info.absoluteFilePath();

    QMutexLocker locker(&mLock);
    const auto found = mEntries.constFind(key);
    if (found != mEntries.cend() && found->mSize == info.size() && found->mModified == modified &&
        found->mChanged == changed) {
        aSnapshot = found->mSnapshot;
        problem = found->mProblem;
        return found->mResult;
    }

    QFile file(key);
    if (!file.open(QIODevice::ReadOnly)) {
        log.value("Library file cannot be read", aPath);
        problem.mKind = Problem::Unreadable;
        return ITResult::ServerExecFailure;
    }
    auto snapshot = std::make_shared<LibrarySnapshot>();
    QString error;
    ++mParseCount;
    HResult result = ITResult::ServerExecFailure;
    switch (LibraryXmlParser::parse(file, *snapshot, error)) {
    case LibraryXmlParser::Truncated:
        log.value("Library file ends early (being written?)", error);
        problem.mKind = Problem::Incomplete;
        result = ITResult::CallRejected;
        break;
    case LibraryXmlParser::Malformed:
        log.value("Library file is not well-formed", error);
        problem = {Problem::Malformed, error};
        break;
    case LibraryXmlParser::NotALibrary:
        log.value("File is not a music library", aPath);
        problem.mKind = Problem::NotALibrary;
        break;
    case LibraryXmlParser::Parsed:
        aSnapshot = snapshot;
        result = ITResult::Ok;
        break;
    }
    return remember(key, info.size(), modified, changed, result, problem, aSnapshot);
}

HResult LibrarySnapshotStore::remember(const QString &aKey, qint64 aSize, qint64 aModified,
                                       qint64 aChanged, HResult aResult, const Problem &aProblem,
                                       std::shared_ptr<const LibrarySnapshot> aSnapshot)
{
    if (mEntries.size() >= MaxEntries && !mEntries.contains(aKey))
        mEntries.erase(mEntries.begin());
    Entry &entry = mEntries[aKey];
    entry.mSize = aSize;
    entry.mModified = aModified;
    entry.mChanged = aChanged;
    entry.mResult = aResult;
    entry.mProblem = aProblem;
    entry.mSnapshot = std::move(aSnapshot);
    return aResult;
}
