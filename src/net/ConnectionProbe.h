#pragma once

// Answers whether this computer is connected to the Internet right now. Every failure to find
// out counts as not connected.
class ConnectionProbe
{
public:
    virtual ~ConnectionProbe() = default;

    virtual bool isRemoteConnectionActive() = 0;
};
