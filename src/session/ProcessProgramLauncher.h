#pragma once

#include "ProgramLauncher.h"

class ProcessProgramLauncher final : public ProgramLauncher
{
public:
    [[nodiscard]] bool start(const QString& commandLine, const Environment& environment = {}) override;
};
