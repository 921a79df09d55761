#include "DetectionSettings.h"

#include "SectionDefaults.h"
#include "SettingValue.h"
#include "SettingsStore.h"

#include <array>

namespace {
constexpr std::array<SectionKey, 5> kKeys { {
    { "Half Open", "1" },
    { "Stealth Flags", "1" },
    { "Port Scan", "1" },
    { "Scan Ports", "8" },
    { "Scan Window", "3" },
} };

constexpr auto CountKey = "Number";

// A threshold of one port would call every probe a scan; a window beyond an hour would keep a
// source's ports for good.
int inRange(const QString& text, int low, int high, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok && value >= low && value <= high ? value : fallback;
}
} // namespace

QStringList DetectionSettings::defaultUdpPorts()
{
    return { QStringLiteral("69"), QStringLiteral("135"), QStringLiteral("137"), QStringLiteral("138"),
        QStringLiteral("139"), QStringLiteral("161"), QStringLiteral("162"), QStringLiteral("445"),
        QStringLiteral("514"), QStringLiteral("520"), QStringLiteral("1434") };
}

DetectionSettings DetectionSettings::load(SettingsStore& store)
{
    const QStringList values = SectionDefaults::readOrSeed(store, Section, kKeys);
    DetectionSettings settings;
    settings.halfOpen = values[0].trimmed() != QLatin1String("0");
    settings.stealthFlags = values[1].trimmed() != QLatin1String("0");
    settings.portScan = values[2].trimmed() != QLatin1String("0");
    settings.scanPorts = inRange(values[3], 2, 65535, settings.scanPorts);
    settings.scanWindowSeconds = inRange(values[4], 1, 3600, settings.scanWindowSeconds);

    const QString udp = QString::fromLatin1(UdpSection);
    const QString count = store.read(udp, QString::fromLatin1(CountKey));
    if (count.isEmpty()) {
        settings.udpPorts = defaultUdpPorts();
        settings.save(store);
        return settings;
    }
    const int last = SettingValue::lastPortIndex(count);
    for (int i = 0; i <= last; ++i)
        settings.udpPorts.append(store.read(udp, QString::number(i)));
    return settings;
}

void DetectionSettings::save(SettingsStore& store) const
{
    using SectionDefaults::flag;
    const QString udp = QString::fromLatin1(UdpSection);
    store.write(udp, QString::fromLatin1(CountKey), QString::number(qint16(udpPorts.size() - 1)));
    for (qsizetype i = 0; i < udpPorts.size(); ++i)
        store.write(udp, QString::number(i), udpPorts.at(i));
    SectionDefaults::write(store, Section, kKeys,
        { flag(halfOpen), flag(stealthFlags), flag(portScan), QString::number(scanPorts),
            QString::number(scanWindowSeconds) });
}
