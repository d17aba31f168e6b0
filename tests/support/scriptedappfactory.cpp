#include "scriptedappfactory.h"

#include "library/snapshotitunesapp.h"

class ScriptedAppFactory::Connection : public ITEventConnection
{
public:
    Connection(std::shared_ptr<Registry> aRegistry, std::function<void()> aHandler)
        : mRegistry(std::move(aRegistry)), mHandler(std::move(aHandler))
    {
        QMutexLocker locker(&mRegistry->mLock);
        mRegistry->mConnections.append(this);
    }
    ~Connection() override
    {
        QMutexLocker locker(&mRegistry->mLock);
        mRegistry->mConnections.removeAll(this);
    }

    std::shared_ptr<Registry> mRegistry;
    std::function<void()> mHandler;
};

ScriptedAppFactory::ScriptedAppFactory(const LibrarySnapshot &aLibrary)
    : mLibrary(std::make_shared<const LibrarySnapshot>(aLibrary)),
      mFaults(std::make_shared<FaultScript>()), mRegistry(std::make_shared<Registry>())
{}

void ScriptedAppFactory::setLibrary(const LibrarySnapshot &aLibrary)
{
    auto library = std::make_shared<const LibrarySnapshot>(aLibrary);
    QMutexLocker locker(&mLock);
    mLibrary = std::move(library);
}

HResult ScriptedAppFactory::create(std::shared_ptr<ITunesApp> &aApp)
{
    aApp.reset();
    HResult result = ITResult::Ok;
    bool isNull = false;
    if (mFaults->take("CreateApp", QString(), result, isNull))
        return result;
    auto services = std::make_shared<SnapshotITunesApp::Services>();
    {
        QMutexLocker locker(&mLock);
        services->mSnapshot = mLibrary;
    }
    services->mInterceptor = mFaults;
    auto registry = mRegistry;
    services->mEvents = [registry](std::function<void()> aHandler) {
        return std::make_unique<Connection>(registry, std::move(aHandler));
    };
    aApp = std::make_shared<SnapshotITunesApp>(std::move(services));
    return ITResult::Ok;
}

void ScriptedAppFactory::fireEvent()
{
    QList<Connection *> connections;
    {
        QMutexLocker locker(&mRegistry->mLock);
        connections = mRegistry->mConnections;
    }
    for (Connection *connection : std::as_const(connections))
        connection->mHandler();
}

int ScriptedAppFactory::connectionCount() const
{
    QMutexLocker locker(&mRegistry->mLock);
    return int(mRegistry->mConnections.size());
}
