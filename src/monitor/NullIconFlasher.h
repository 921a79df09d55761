#pragma once

#include "IconFlasher.h"

// For a program without a tray icon: there is nothing to flash.
class NullIconFlasher final : public IconFlasher
{
public:
    void startFlashing() override { }
};
