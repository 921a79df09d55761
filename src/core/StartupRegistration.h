#pragma once

#include <QString>

// Whether the program starts with the user's session.
class StartupRegistration
{
public:
    virtual ~StartupRegistration() = default;
    // Each returns why the change could not be made, as a status line; empty when it was made.
    [[nodiscard]] virtual QString addToStartup() = 0;
    [[nodiscard]] virtual QString removeFromStartup() = 0;
};
