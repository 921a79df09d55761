#pragma once

#include "Clipboard.h"

// The clipboard of the window system the application runs on; on X11 the primary selection gets
// the text too, so a middle click pastes it as well.
class GuiClipboard final : public Clipboard
{
public:
    void copyToClipboard(const QString& text) override;
};
