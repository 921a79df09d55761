#include "ProtectionState.h"

#include "IntruderBlocker.h"
#include "PacketWatch.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <vector>

namespace {
struct ReasonText
{
    Event::Reason reason;
    const char* one;
    const char* many;
};

// In the order the line names them; the words the per-port status lines use.
constexpr std::array kReasons { ReasonText { Event::Reason::NeedsPrivileges, "needs administrator rights",
                                    "need administrator rights" },
    ReasonText { Event::Reason::InUse, "is already open", "are already open" },
    ReasonText { Event::Reason::InvalidPort, "is not a valid port", "are not valid ports" } };

QString ports(int count)
{
    return QString::number(count) + (count == 1 ? QStringLiteral(" port") : QStringLiteral(" ports"));
}

using Single = ProtectionState::Single;

bool missing(Single guard)
{
    return guard == Single::NeedsPrivileges || guard == Single::Failed;
}

QString countText(const QList<MonitoringSwitch::Unguarded>& unguarded, int count, const char* kind)
{
    // "10 of 12 ports unguarded", "1 of 11 UDP ports unguarded".
    return QStringLiteral("%1 of %2 %3%4 unguarded")
        .arg(unguarded.size())
        .arg(count)
        .arg(QLatin1String(kind), QLatin1String(count == 1 ? "port" : "ports"));
}

// "21, 23 need administrator rights; 8080 is already open".
QString reasonsText(const QList<MonitoringSwitch::Unguarded>& unguarded)
{
    QStringList parts;
    for (const ReasonText& text : kReasons) {
        QStringList entries;
        for (const MonitoringSwitch::Unguarded& port : unguarded)
            if (port.reason == text.reason)
                entries << port.entry;
        if (!entries.isEmpty())
            parts << entries.join(QStringLiteral(", ")) + QLatin1Char(' ')
                    + QLatin1String(entries.size() == 1 ? text.one : text.many);
    }
    return parts.join(QStringLiteral("; "));
}

QString singleProblem(const char* name, Single guard)
{
    return QLatin1String(name)
        + QLatin1String(guard == Single::NeedsPrivileges ? " off: it needs administrator rights"
                                                         : " off: it could not be started");
}

bool needsPrivileges(const QList<MonitoringSwitch::Unguarded>& unguarded)
{
    for (const MonitoringSwitch::Unguarded& port : unguarded)
        if (port.reason == Event::Reason::NeedsPrivileges)
            return true;
    return false;
}

// The group the helpers serve, among this process's groups (not merely the user's: a group
// joined since logging in counts only from the next login).
bool inHelperGroup()
{
    const group* helpers = getgrnam("sentrel");
    if (!helpers)
        return false;
    if (getegid() == helpers->gr_gid)
        return true;
    std::vector<gid_t> groups(std::size_t(std::max(getgroups(0, nullptr), 0)));
    const int count = getgroups(int(groups.size()), groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(count, 0), helpers->gr_gid)
        != groups.begin() + std::max(count, 0);
}

Single singleOf(PacketWatch::State state)
{
    switch (state) {
    case PacketWatch::State::Armed:
        return Single::Working;
    case PacketWatch::State::NeedsPrivilege:
        return Single::NeedsPrivileges;
    case PacketWatch::State::Failed:
        return Single::Failed;
    case PacketWatch::State::Off:
        break;
    }
    return Single::NotWanted;
}

Single singleOf(IntruderBlocker::Availability availability)
{
    switch (availability) {
    case IntruderBlocker::Availability::Asking:
    case IntruderBlocker::Availability::Available:
        return Single::Working;
    case IntruderBlocker::Availability::NeedsPrivileges:
        return Single::NeedsPrivileges;
    case IntruderBlocker::Availability::Off:
        break;
    }
    return Single::NotWanted;
}
} // namespace

ProtectionState ProtectionState::opened(const Guards& guards)
{
    const bool whole = guards.ports > 0 && guards.unguardedPorts.isEmpty() && guards.unguardedUdp.isEmpty()
        && !missing(guards.watch) && !missing(guards.blocking);
    ProtectionState state(whole ? Kind::Guarding : Kind::Partial);
    state.m_guards = guards;
    return state;
}

ProtectionState::Guards ProtectionState::survey(const MonitoringSwitch& monitoring, const IntruderBlocker* blocker)
{
    Guards guards;
    guards.ports = monitoring.openedEntryCount();
    guards.unguardedPorts = monitoring.unguarded();
    guards.udpPorts = monitoring.openedUdpCount();
    guards.unguardedUdp = monitoring.unguardedUdp();
    if (const PacketWatch* watch = monitoring.packetWatch())
        guards.watch = singleOf(watch->state());
    if (blocker)
        guards.blocking = singleOf(blocker->availability());
    // A process's groups never change, and the tooltip asks every second: the group database once.
    static const bool member = inHelperGroup();
    guards.inHelperGroup = member;
    return guards;
}

QString ProtectionState::summary() const
{
    switch (m_kind) {
    case Kind::Guarding:
        return m_guards.ports == 1 ? QStringLiteral("1 port guarded")
                                   : QStringLiteral("All %1 guarded").arg(ports(m_guards.ports));
    case Kind::Partial: {
        QStringList parts;
        if (m_guards.ports == 0)
            parts << QStringLiteral("No port to guard");
        else if (!m_guards.unguardedPorts.isEmpty())
            parts << countText(m_guards.unguardedPorts, m_guards.ports, "");
        if (!m_guards.unguardedUdp.isEmpty())
            parts << countText(m_guards.unguardedUdp, m_guards.udpPorts, "UDP ");
        if (missing(m_guards.watch))
            parts << QStringLiteral("stealth scan watch off");
        if (missing(m_guards.blocking))
            parts << QStringLiteral("blocking off");
        return parts.join(QStringLiteral(", "));
    }
    case Kind::Stopped:
        return QStringLiteral("Stopped");
    case Kind::Paused:
        break;
    }
    return QStringLiteral("Paused while Options is open");
}

QStringList ProtectionState::problems(Detail detail) const
{
    if (m_kind != Kind::Partial)
        return {};
    QStringList lines;
    if (m_guards.ports == 0)
        lines << QStringLiteral("No port to guard");
    else if (!m_guards.unguardedPorts.isEmpty())
        lines << countText(m_guards.unguardedPorts, m_guards.ports, "") + QStringLiteral(": ")
                + reasonsText(m_guards.unguardedPorts);
    if (!m_guards.unguardedUdp.isEmpty())
        lines << countText(m_guards.unguardedUdp, m_guards.udpPorts, "UDP ") + QStringLiteral(": ")
                + reasonsText(m_guards.unguardedUdp);
    if (detail == Detail::PortsOnly)
        return lines;
    if (missing(m_guards.watch))
        lines << singleProblem("Stealth scan watch", m_guards.watch);
    if (missing(m_guards.blocking))
        lines << singleProblem("Blocking intruders", m_guards.blocking);
    return lines;
}

QString ProtectionState::remedy() const
{
    if (m_kind != Kind::Partial || m_guards.inHelperGroup)
        return {};
    if (!needsPrivileges(m_guards.unguardedPorts) && !needsPrivileges(m_guards.unguardedUdp)
        && m_guards.watch != Single::NeedsPrivileges && m_guards.blocking != Single::NeedsPrivileges)
        return {};
    return QStringLiteral("To guard the rest, join the group sentrel and log in again: sudo adduser $USER sentrel");
}

QString ProtectionState::readyText() const
{
    return m_kind == Kind::Partial ? QStringLiteral("Ready, partly guarded: ") + summary() + QLatin1Char('.')
                                   : QStringLiteral("Ready.");
}

bool ProtectionState::isReadyText(const QString& text)
{
    return text == QLatin1String("Ready.") || text.startsWith(QLatin1String("Ready, partly guarded: "));
}
