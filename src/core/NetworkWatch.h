#pragma once

// The periodic check of the network connection, switched by start-up and by the options dialog.
class NetworkWatch
{
public:
    virtual ~NetworkWatch() = default;
    virtual void setEnabled(bool enabled) = 0;
    // Forgets the last seen connection state, so the next tick reports a connection again.
    virtual void resetNetState() = 0;
};
