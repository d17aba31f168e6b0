#pragma once

#include "library/iteventconnection.h"
#include "library/itunesapp.h"

#include <functional>
#include <memory>

// Creates application objects; the counterpart of starting the automation server.
class ITunesAppFactory
{
public:
    virtual ~ITunesAppFactory() = default;
    virtual HResult create(std::shared_ptr<ITunesApp> &aApp) = 0;
    // Library events without starting the application, where the source allows
    // it; null where it does not, and the application's Advise serves instead.
    virtual std::unique_ptr<ITEventConnection> watch(std::function<void()> aHandler)
    {
        (void)aHandler;
        return nullptr;
    }
};
