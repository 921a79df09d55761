#pragma once

#include "MonitoringSwitch.h"

#include <QList>
#include <QString>

// How well the ports are guarded right now: every listed port, some of them, none because
// monitoring is stopped, or none for a while because the options dialog is open. The tray icon,
// its tooltip and the report after start-up and after OK all say it from here.
class ProtectionState
{
public:
    enum class Kind { Guarding, Partial, Stopped, Paused };

    static ProtectionState stopped() { return ProtectionState(Kind::Stopped); }
    static ProtectionState paused() { return ProtectionState(Kind::Paused); }
    // The listeners as last opened for entryCount port-list entries.
    static ProtectionState opened(int entryCount, const QList<MonitoringSwitch::Unguarded>& unguarded);

    Kind kind() const { return m_kind; }
    // One line: "All 12 ports guarded", "10 of 12 ports unguarded", "Stopped", "Paused while
    // Options is open".
    QString summary() const;
    // What could not be guarded and why, e.g. "10 of 12 ports unguarded: 21, 23 need administrator
    // rights; 8080 is already open"; empty when every listed port is guarded or none is meant to be.
    QString problem() const;

    bool operator==(const ProtectionState&) const = default;

private:
    explicit ProtectionState(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
    int m_entryCount = 0;
    QList<MonitoringSwitch::Unguarded> m_unguarded;
};
