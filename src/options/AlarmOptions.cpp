#include "AlarmOptions.h"

#include "AllowList.h"
#include "EventSettings.h"
#include "PortEntry.h"

#include <algorithm>

AlarmOptions::AlarmOptions(SettingsStore& store, QObject* parent)
    : WorkingCopy(parent)
    , m_store(store)
{
}

void AlarmOptions::load()
{
    m_alarm = AlarmSettings::load(m_store);
    m_events = EventSettings::load(m_store);
    m_detection = DetectionSettings::load(m_store);
    m_push = PushSettings::load(m_store);
    // An entry the store holds but cannot be used stays listed, so the user sees and removes it.
    m_allow = AllowList::split(m_alarm.allow);
    emit changed();
}

void AlarmOptions::save()
{
    m_alarm.allow = m_allow.join(QLatin1Char(' '));
    m_alarm.save(m_store);
    m_events.save(m_store);
    m_detection.save(m_store);
    m_push.save(m_store);
}

void AlarmOptions::addUdpPort(const QString& typed)
{
    if (const auto entry = portEntry(typed)) {
        m_detection.udpPorts << *entry;
        emit changed();
    }
}

QString AlarmOptions::addAllowEntry(const QString& entry)
{
    const QString text = entry.trimmed();
    const QString reason = AllowList::check(text);
    if (!reason.isEmpty())
        return QLatin1Char('"') + text + QLatin1String("\": ") + reason;
    if (!m_allow.contains(text))
        m_allow << text;
    emit changed();
    return {};
}

namespace {
// Each selected row once, from the bottom up so the rows above keep their places.
void removeRows(QStringList& list, QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row >= 0 && row < list.size())
            list.removeAt(row);
    }
}
} // namespace

void AlarmOptions::removeAllowEntries(QList<int> rows)
{
    removeRows(m_allow, std::move(rows));
    emit changed();
}

void AlarmOptions::removeUdpPorts(QList<int> rows)
{
    removeRows(m_detection.udpPorts, std::move(rows));
    emit changed();
}

QString AlarmOptions::collectorProblem(const QString& collector)
{
    const QString text = collector.trimmed();
    QString host;
    int port = 0;
    if (text.isEmpty() || EventSettings::splitCollector(text, &host, &port))
        return {};
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    QString reason = QStringLiteral("not host:port");
    if (colon > 0 && !text.startsWith(QLatin1Char('[')) && text.left(colon).contains(QLatin1Char(':')))
        reason = QStringLiteral("an IPv6 address goes in brackets, e.g. [2001:db8::1]:514");
    else if (colon > 0)
        reason = QStringLiteral("the port must be a number from 1 to 65535");
    return QLatin1Char('"') + text + QLatin1String("\": ") + reason;
}
