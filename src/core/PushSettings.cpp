#include "PushSettings.h"

#include "SectionDefaults.h"

#include <array>

namespace {
constexpr std::array<SectionKey, 3> kKeys { {
    { "Service", "none" },
    { "URL", "" },
    { "Token", "" },
} };

constexpr std::array<const char*, 4> kServices { "none", "ntfy", "gotify", "webhook" };
} // namespace

PushSettings PushSettings::load(SettingsStore& store)
{
    const QStringList values = SectionDefaults::readOrSeed(store, Section, kKeys);
    PushSettings settings;
    settings.service = values[0].trimmed().toLower();
    if (settings.kind() == Service::None)
        settings.service = QString::fromLatin1(kServices[0]);
    settings.url = values[1].trimmed();
    settings.token = values[2].trimmed();
    return settings;
}

void PushSettings::save(SettingsStore& store) const
{
    SectionDefaults::write(store, Section, kKeys, { service, url.trimmed(), token.trimmed() });
}

PushSettings::Service PushSettings::kind() const
{
    for (std::size_t i = 1; i < kServices.size(); ++i) {
        if (service == QLatin1String(kServices[i]))
            return Service(i);
    }
    return Service::None;
}
