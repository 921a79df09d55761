#include "EventSettings.h"

#include "SectionDefaults.h"

#include <array>

namespace {
constexpr std::array<SectionKey, 6> kKeys { {
    { "Event Log", "1" },
    { "Event Log Size", "10" },
    { "Event Log Files", "5" },
    { "Syslog", "1" },
    { "Collector", "" },
    { "Collector Protocol", "tcp" },
} };

int positive(const QString& text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value > 0 ? value : fallback;
}
} // namespace

EventSettings EventSettings::load(SettingsStore& store)
{
    const QStringList values = SectionDefaults::readOrSeed(store, Section, kKeys);
    EventSettings settings;
    settings.eventLog = values[0].trimmed() != QLatin1String("0");
    settings.eventLogSizeMb = positive(values[1], settings.eventLogSizeMb);
    settings.eventLogFiles = positive(values[2], settings.eventLogFiles);
    settings.syslog = values[3].trimmed() != QLatin1String("0");
    settings.collector = values[4].trimmed();
    settings.collectorProtocol = values[5].trimmed().toLower();
    return settings;
}

void EventSettings::save(SettingsStore& store) const
{
    using SectionDefaults::flag;
    SectionDefaults::write(store, Section, kKeys,
        { flag(eventLog), QString::number(eventLogSizeMb), QString::number(eventLogFiles), flag(syslog),
            collector.trimmed(), collectorProtocol });
}

bool EventSettings::splitCollector(const QString& text, QString* host, int* port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString name = text.left(colon);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    else if (name.contains(QLatin1Char(':')))
        return false; // an IPv6 address must come in brackets
    bool ok = false;
    const int number = text.mid(colon + 1).toInt(&ok, 10);
    if (!ok || number < 1 || number > 65535 || name.isEmpty())
        return false;
    *host = name;
    *port = number;
    return true;
}

bool EventSettings::collectorUsesUdp() const
{
    return collectorProtocol == QLatin1String("udp");
}
