#pragma once

#include "MonitoringSwitch.h"

#include <QList>
#include <QString>
#include <QStringList>

class IntruderBlocker;

// How well Sentrel guards right now: every guard, some of them, none because monitoring is
// stopped, or none for a while because the options dialog is open. The guards are the listed TCP
// ports, the UDP ports, the packet watch that sees stealth scans and, while "Block Intruders" is
// on, blocking at the firewall. The tray icon, its tooltip, the status label, the report after
// start-up and after OK, and "--check" all say it from here, so they count alike.
class ProtectionState
{
public:
    enum class Kind { Guarding, Partial, Stopped, Paused };

    // A guard that is one thing rather than a list of ports.
    enum class Single { NotWanted, Working, NeedsPrivileges, Failed };

    // What the last opening of the guards achieved.
    struct Guards
    {
        int ports = 0;
        QList<MonitoringSwitch::Unguarded> unguardedPorts;
        int udpPorts = 0;
        QList<MonitoringSwitch::Unguarded> unguardedUdp;
        Single watch = Single::NotWanted;
        Single blocking = Single::NotWanted;
        // Whether this process already has the group whose members the helpers serve: joining it
        // is then no remedy.
        bool inHelperGroup = false;
    };

    static ProtectionState stopped() { return ProtectionState(Kind::Stopped); }
    static ProtectionState paused() { return ProtectionState(Kind::Paused); }
    static ProtectionState opened(const Guards& guards);
    // The TCP listeners alone, as last opened for entryCount port-list entries.
    static ProtectionState opened(int entryCount, const QList<MonitoringSwitch::Unguarded>& unguarded)
    {
        Guards guards;
        guards.ports = entryCount;
        guards.unguardedPorts = unguarded;
        return opened(guards);
    }
    // The guards as the running objects have them now; blocker: none, blocking is not counted.
    static Guards survey(const MonitoringSwitch& monitoring, const IntruderBlocker* blocker);

    Kind kind() const { return m_kind; }
    // One line: "All 12 ports guarded", "10 of 12 ports unguarded, 10 of 11 UDP ports unguarded,
    // stealth scan watch off", "Stopped", "Paused while Options is open".
    QString summary() const;
    // One line per kind of guard that is missing, naming what and why, e.g. "10 of 12 ports
    // unguarded: 21, 23 need administrator rights; 8080 is already open"; empty when every guard
    // works or none is meant to.
    // PortsOnly leaves out the watch and blocking, whose failures have status lines of their own.
    enum class Detail { All, PortsOnly };
    QStringList problems(Detail detail = Detail::All) const;
    // How to get the guards that need administrator rights, once; empty when none does.
    QString remedy() const;
    // The status label's caption once start-up is done: "Ready." only when nothing is missing.
    QString readyText() const;
    static bool isReadyText(const QString& text);

private:
    explicit ProtectionState(Kind kind)
        : m_kind(kind)
    {
    }

    Kind m_kind;
    Guards m_guards;
};
