#pragma once

#include <QString>

// Plays a wave file named by text in the background. A missing or unplayable file gives silence;
// play() never blocks the caller.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;

    virtual void play(const QString& fileName) = 0;
};
