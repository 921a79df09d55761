#include "SettingsKeys.h"

#include <array>

namespace SettingsKeys {

namespace {
constexpr Key flag(const char* section, const char* key, const char* first, Flag Settings::*field)
{
    return { section, key, first, Form::Flag, field, nullptr, nullptr };
}
constexpr Key onOff(const char* section, const char* key, const char* first, bool Settings::*field)
{
    return { section, key, first, Form::Switch, nullptr, field, nullptr };
}
constexpr Key text(const char* section, const char* key, const char* first, QString Settings::*field)
{
    return { section, key, first, Form::Text, nullptr, nullptr, field };
}

using S = Settings;
const std::array<Key, 26> kTable { {
    flag("General", "Hide Monitor", "0", &S::hideMonitor),
    flag("General", "Start Monitoring", "1", &S::startMonitoring),
    flag("General", "Run", "0", &S::run),
    text("General", "Run File", "None", &S::runFile),
    onOff("General", "Logs", "True", &S::logs),
    { "General", "Start", "Sentrel II", Form::Marker },
    flag("Display", "Always On Top", "0", &S::alwaysOnTop),
    flag("Display", "Min On Startup", "1", &S::minOnStartup),
    flag("Display", "Use IconTray", "1", &S::useIconTray),
    flag("Display", "Use Hotkeys", "0", &S::useHotkeys),
    flag("Display", "Auto Scroll Monitor", "1", &S::autoScrollMonitor),
    flag("Display", "Windows Startup", "1", &S::loadAtLogin),
    flag("Display", "Flash Icon", "1", &S::flashIcon),
    flag("Display", "Change Background", "0", &S::changeBackground),
    flag("Display", "Attack Run", "0", &S::attackRun),
    text("Display", "Attack Run File", "None", &S::attackRunFile),
    flag("Display", "Copy Clipboard", "1", &S::copyClipboard),
    onOff("Sounds", "On", "True", &S::soundsOn),
    text("Sounds", "0", "NetOn.wav", &S::netConnectedSound),
    text("Sounds", "1", "NetOff.wav", &S::netDisconnectedSound),
    text("Sounds", "2", "Intruder.wav", &S::intruderSound),
    text("Sounds", "3", "Start.wav", &S::startSound),
    { "Ports", "Number", "11", Form::PortList },
    flag("Advance", "DDE On", "0", &S::chatOn),
    text("Advance", "DDE Service", "mIRC", &S::chatService),
    flag("Advance", "RPS", "0", &S::rps),
} };

constexpr std::array<const char*, 12> kDefaultPorts {
    "21",
    "23",
    "25",
    "53",
    "70",
    "79",
    "80",
    "137",
    "138",
    "139",
    "12345",
    "12346",
};
} // namespace

std::span<const Key> table()
{
    return kTable;
}

std::span<const char* const> defaultPorts()
{
    return kDefaultPorts;
}

int firstStartKeyCount()
{
    // Every table row is one key, and the port list adds one key per default port.
    return int(kTable.size() + kDefaultPorts.size());
}

} // namespace SettingsKeys
