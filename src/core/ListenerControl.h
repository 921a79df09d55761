#pragma once

// The listeners the options dialog closes while it is open and brings back on closing while
// monitoring is on. The monitor implements it.
class ListenerControl
{
public:
    virtual ~ListenerControl() = default;
    // Opens one listener per entry of the port list, without status lines when they come back.
    virtual void openPortListeners() = 0;
    // Starts the random port sentinel.
    virtual void loadSentinel() = 0;
};
