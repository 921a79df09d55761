#pragma once

#include "IpAddress.h"

#include <QString>

#include <functional>

class IntruderBlocker;
class OptionsModel;
class SettingsManager;

// What a source's details can do about it: allow it (on every port or on one), block it for a
// while or unblock it. The allow list changes as the Options dialog would change it: stored,
// read back and applied at once.
class SourceActions
{
public:
    enum class Allowed { Added, AlreadyAllowed, OptionsOpen };

    // optionsOpen: whether the Options dialog is open with edits of its own; the allow list then
    // waits, since OK would write the dialog's copy over it.
    SourceActions(SettingsManager& settings, OptionsModel& options, IntruderBlocker& blocker,
        std::function<bool()> optionsOpen);

    // port 0: every port.
    Allowed allow(const IpAddress& address, int port);
    bool isAllowed(const IpAddress& address, int port) const;

    bool block(const IpAddress& address, int seconds);
    bool unblock(const IpAddress& address);
    bool isBlocked(const IpAddress& address) const;
    IntruderBlocker& blocker() { return m_blocker; }

    // The program folder's Log.txt.
    QString logPath() const;

private:
    SettingsManager& m_settings;
    OptionsModel& m_options;
    IntruderBlocker& m_blocker;
    std::function<bool()> m_optionsOpen;
};
