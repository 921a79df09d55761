#include "AlarmOptions.h"

#include "AllowList.h"
#include "EventSettings.h"

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
    // An entry the store holds but cannot be used stays listed, so the user sees and removes it.
    m_allow = AllowList::split(m_alarm.allow);
    emit changed();
}

void AlarmOptions::save()
{
    m_alarm.allow = m_allow.join(QLatin1Char(' '));
    m_alarm.save(m_store);
    m_events.save(m_store);
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

void AlarmOptions::removeAllowEntries(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (int row : rows) {
        if (row >= 0 && row < m_allow.size())
            m_allow.removeAt(row);
    }
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
