#pragma once

// Makes the tray icon flash after an intrusion until the user notices; the tray owns how it
// flashes and what stops it.
class IconFlasher
{
public:
    virtual ~IconFlasher() = default;

    virtual void startFlashing() = 0;
};
