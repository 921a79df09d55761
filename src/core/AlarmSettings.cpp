#include "AlarmSettings.h"

#include "SectionDefaults.h"

#include <array>

namespace {
constexpr std::array<SectionKey, 4> kKeys { {
    { "One Alarm Per Scan", "0" },
    { "Scan Gap", "60" },
    { "Allow", "" },
    { "Notifications", "1" },
} };

// The longest gap a user may set: a day. Longer would keep one source's incident open for good.
constexpr int MaxGapSeconds = 24 * 60 * 60;

int gapSeconds(const QString& text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value > 0 && value <= MaxGapSeconds ? value : fallback;
}
} // namespace

AlarmSettings AlarmSettings::load(SettingsStore& store)
{
    const QStringList values = SectionDefaults::readOrSeed(store, Section, kKeys);
    AlarmSettings settings;
    settings.oneAlarmPerScan = values[0].trimmed() == QLatin1String("1");
    settings.scanGapSeconds = gapSeconds(values[1], settings.scanGapSeconds);
    settings.allow = values[2].trimmed();
    settings.notifications = values[3].trimmed() != QLatin1String("0");
    return settings;
}

void AlarmSettings::save(SettingsStore& store) const
{
    using SectionDefaults::flag;
    SectionDefaults::write(store, Section, kKeys,
        { flag(oneAlarmPerScan), QString::number(scanGapSeconds), allow.trimmed(), flag(notifications) });
}
