#pragma once

#include "Clipboard.h"
#include "CoalescedText.h"

// The clipboard of the window system the application runs on; on X11 the primary selection gets
// the text too, so a middle click pastes it as well.
// Texts reach the window system through a CoalescedText: on X11 taking the selection costs round
// trips to the server, and a flood of intrusions paid them for every address although only the
// newest can ever be pasted. The first text after a quiet spell goes out on the next event-loop
// pass, later ones at most ten times a second, always the newest.
class GuiClipboard final : public Clipboard
{
public:
    static constexpr int IntervalMs = 100;

    GuiClipboard();

    void copyToClipboard(const QString& text) override;

private:
    static void publish(const QString& text);

    CoalescedText m_pending;
};
