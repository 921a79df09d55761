#pragma once

// Switches the function keys' polling on and off: the options dialog and the About box stop it
// while they are open, start-up and re-applying the settings switch it as the settings say.
class HotkeyControl
{
public:
    virtual ~HotkeyControl() = default;
    virtual void load() = 0; // starts polling; loading twice changes nothing
    virtual void unload() = 0; // stops polling
};
