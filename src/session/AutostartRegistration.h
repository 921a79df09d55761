#pragma once

#include "AutostartEntry.h"
#include "StartupRegistration.h"

#include <functional>

// Starting with the session: the running executable's own path in the user's autostart entry.
// Switching off keeps the entry and marks it hidden. A failure leaves the setting alone and is
// described to the caller for its status line.
class AutostartRegistration final : public StartupRegistration
{
public:
    using ProgramPath = std::function<QString()>;

    // The path is asked for at every write; by default the running executable's.
    explicit AutostartRegistration(AutostartEntry entry, ProgramPath programPath = {});

    [[nodiscard]] QString addToStartup() override;
    [[nodiscard]] QString removeFromStartup() override;

private:
    QString write(bool enabled);

    AutostartEntry m_entry;
    ProgramPath m_programPath;
};
