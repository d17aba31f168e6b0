#pragma once

#include "library/itunesapp.h"

#include <memory>

// Creates application objects; the counterpart of starting the automation server.
class ITunesAppFactory
{
public:
    virtual ~ITunesAppFactory() = default;
    virtual HResult create(std::shared_ptr<ITunesApp> &aApp) = 0;
};
