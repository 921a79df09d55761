#pragma once

#include "AutostartEntry.h"
#include "StartupTargets.h"

#include <functional>

// Starting with the session: the running executable's own path in the user's autostart entry.
// Switching off keeps the entry and marks it hidden. Failures are silent and leave the setting
// alone; the caller never learns of them.
class AutostartRegistration final : public StartupRegistration
{
public:
    using ProgramPath = std::function<QString()>;

    // The path is asked for at every write; by default the running executable's.
    explicit AutostartRegistration(AutostartEntry entry, ProgramPath programPath = {});

    void addToStartup() override;
    void removeFromStartup() override;

private:
    AutostartEntry m_entry;
    ProgramPath m_programPath;
};
