#pragma once

// A live subscription to library events; destroying it ends the subscription.
class ITEventConnection
{
public:
    virtual ~ITEventConnection() = default;
};
