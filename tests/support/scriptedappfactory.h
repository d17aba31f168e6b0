#pragma once

#include "faultscript.h"
#include "library/itunesappfactory.h"
#include "library/librarysnapshot.h"

#include <QMutex>

#include <memory>

// An in-memory library for tests and demonstrations: its contents are set in
// code and every call can be told to fail ("CreateApp" for creation itself).
class ScriptedAppFactory : public ITunesAppFactory
{
public:
    explicit ScriptedAppFactory(const LibrarySnapshot &aLibrary = LibrarySnapshot());

    void setLibrary(const LibrarySnapshot &aLibrary);
    FaultScript &faults() { return *mFaults; }

    HResult create(std::shared_ptr<ITunesApp> &aApp) override;

    // Delivers one library event to every live connection.
    void fireEvent();
    int connectionCount() const;

private:
    class Connection;
    struct Registry
    {
        QMutex mLock;
        QList<Connection *> mConnections;
    };

    mutable QMutex mLock;
    std::shared_ptr<const LibrarySnapshot> mLibrary;
    std::shared_ptr<FaultScript> mFaults;
    std::shared_ptr<Registry> mRegistry;
};
