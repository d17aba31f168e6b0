#pragma once

#include "library/iteventconnection.h"
#include "library/itsource.h"

#include <functional>
#include <memory>

// The application object of the library automation layer.
class ITunesApp
{
public:
    virtual ~ITunesApp() = default;
    virtual HResult Sources(std::shared_ptr<ITSourceCollection> &aSources) = 0;
    // aHandler runs once per library event, on the thread that made the connection.
    virtual HResult Advise(std::function<void()> aHandler,
                           std::unique_ptr<ITEventConnection> &aConnection) = 0;
};
