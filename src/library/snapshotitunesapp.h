#pragma once

#include "library/itcallinterceptor.h"
#include "library/itunesapp.h"
#include "library/librarysnapshot.h"

#include <functional>
#include <memory>

// The automation object model served from a library snapshot. Both the
// library file reader and the scripted test library hand out this one.
class SnapshotITunesApp : public ITunesApp
{
public:
    using ArtworkLoader = std::function<QList<LibrarySnapshot::Artwork>(const QString &aPath)>;
    using EventConnector =
        std::function<std::unique_ptr<ITEventConnection>(std::function<void()> aHandler)>;

    struct Services
    {
        std::shared_ptr<const LibrarySnapshot> mSnapshot;
        std::shared_ptr<ITCallInterceptor> mInterceptor; // null: every call answers truly
        ArtworkLoader mArtwork;                          // empty: the snapshot's own pictures
        EventConnector mEvents;                          // empty: no events
    };

    explicit SnapshotITunesApp(std::shared_ptr<const Services> aServices);

    HResult Sources(std::shared_ptr<ITSourceCollection> &aSources) override;
    HResult Advise(std::function<void()> aHandler,
                   std::unique_ptr<ITEventConnection> &aConnection) override;

private:
    std::shared_ptr<const Services> mServices;
};
