#pragma once

#include "ProgramLauncher.h"

class ProcessProgramLauncher final : public ProgramLauncher
{
public:
    bool start(const QString& commandLine, const Environment& environment = {}) override;
};
