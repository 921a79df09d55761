#include "AlarmSettings.h"

#include "SectionDefaults.h"

#include <array>

namespace {
constexpr std::array<SectionKey, 6> kKeys { {
    { "One Alarm Per Scan", "0" },
    { "Scan Gap", "60" },
    { "Allow", "" },
    { "Notifications", "1" },
    { "Block Intruders", "0" },
    { "Block Minutes", "60" },
} };

// The longest gap a user may set: a day. Longer would keep one source's incident open for good.
constexpr int MaxGapSeconds = 24 * 60 * 60;

// The firewall helper blocks for at most a day.
constexpr int MaxBlockMinutes = 24 * 60;

int boundedNumber(const QString& text, int highest, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value > 0 && value <= highest ? value : fallback;
}
} // namespace

AlarmSettings AlarmSettings::load(SettingsStore& store)
{
    const QStringList values = SectionDefaults::readOrSeed(store, Section, kKeys);
    AlarmSettings settings;
    settings.oneAlarmPerScan = values[0].trimmed() == QLatin1String("1");
    settings.scanGapSeconds = boundedNumber(values[1], MaxGapSeconds, settings.scanGapSeconds);
    settings.allow = values[2].trimmed();
    settings.notifications = values[3].trimmed() != QLatin1String("0");
    settings.blockIntruders = values[4].trimmed() == QLatin1String("1");
    settings.blockMinutes = boundedNumber(values[5], MaxBlockMinutes, settings.blockMinutes);
    return settings;
}

void AlarmSettings::save(SettingsStore& store) const
{
    using SectionDefaults::flag;
    SectionDefaults::write(store, Section, kKeys,
        { flag(oneAlarmPerScan), QString::number(scanGapSeconds), allow.trimmed(), flag(notifications),
            flag(blockIntruders), QString::number(blockMinutes) });
}
