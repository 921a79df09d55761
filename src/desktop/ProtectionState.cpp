#include "ProtectionState.h"

#include <array>

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
} // namespace

ProtectionState ProtectionState::opened(int entryCount, const QList<MonitoringSwitch::Unguarded>& unguarded)
{
    ProtectionState state(unguarded.isEmpty() && entryCount > 0 ? Kind::Guarding : Kind::Partial);
    state.m_entryCount = entryCount;
    state.m_unguarded = unguarded;
    return state;
}

QString ProtectionState::summary() const
{
    switch (m_kind) {
    case Kind::Guarding:
        return m_entryCount == 1 ? QStringLiteral("1 port guarded")
                                 : QStringLiteral("All %1 guarded").arg(ports(m_entryCount));
    case Kind::Partial:
        if (m_entryCount == 0)
            return QStringLiteral("No port to guard");
        return QStringLiteral("%1 of %2 unguarded").arg(m_unguarded.size()).arg(ports(m_entryCount));
    case Kind::Stopped:
        return QStringLiteral("Stopped");
    case Kind::Paused:
        break;
    }
    return QStringLiteral("Paused while Options is open");
}

QString ProtectionState::problem() const
{
    if (m_kind != Kind::Partial)
        return {};
    QStringList parts;
    for (const ReasonText& text : kReasons) {
        QStringList entries;
        for (const MonitoringSwitch::Unguarded& port : m_unguarded)
            if (port.reason == text.reason)
                entries << port.entry;
        if (!entries.isEmpty())
            parts << entries.join(QStringLiteral(", ")) + QLatin1Char(' ')
                    + QLatin1String(entries.size() == 1 ? text.one : text.many);
    }
    return parts.isEmpty() ? summary() : summary() + QStringLiteral(": ") + parts.join(QStringLiteral("; "));
}
