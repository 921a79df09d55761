#include "AlarmSettings.h"

#include "SettingsStore.h"

#include <array>

namespace {
struct KeyDefault
{
    const char* key;
    const char* firstStartValue;
};

constexpr std::array<KeyDefault, 4> kKeys { {
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

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

AlarmSettings AlarmSettings::load(SettingsStore& store)
{
    const QString section = QString::fromLatin1(Section);
    QString values[kKeys.size()];
    bool wrote = false;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        const QString key = QString::fromLatin1(kKeys[i].key);
        values[i] = store.read(section, key);
        // A missing key reads as empty; writing the empty "Allow" again changes nothing.
        if (values[i].isEmpty()) {
            values[i] = QString::fromLatin1(kKeys[i].firstStartValue);
            store.write(section, key, values[i]);
            wrote = true;
        }
    }
    if (wrote)
        store.sync();

    AlarmSettings settings;
    settings.oneAlarmPerScan = values[0].trimmed() == QLatin1String("1");
    settings.scanGapSeconds = gapSeconds(values[1], settings.scanGapSeconds);
    settings.allow = values[2].trimmed();
    settings.notifications = values[3].trimmed() != QLatin1String("0");
    return settings;
}

void AlarmSettings::save(SettingsStore& store) const
{
    const QString section = QString::fromLatin1(Section);
    const QString values[]
        = { flag(oneAlarmPerScan), QString::number(scanGapSeconds), allow.trimmed(), flag(notifications) };
    for (std::size_t i = 0; i < kKeys.size(); ++i)
        store.write(section, QString::fromLatin1(kKeys[i].key), values[i]);
    store.sync();
}
