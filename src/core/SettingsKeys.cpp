#include "SettingsKeys.h"

#include <array>

namespace SettingsKeys {

namespace {
using Check = OptionsModel::Check;
using Choice = OptionsModel::Choice;
using Text = OptionsModel::Text;

constexpr int c(Check check)
{
    return static_cast<int>(check);
}
constexpr int c(Choice choice)
{
    return static_cast<int>(choice);
}
constexpr int c(Text text)
{
    return static_cast<int>(text);
}

const std::array<Key, 26> kTable { {
    { "General", "Hide Monitor", "0", Form::Flag, &Settings::hideMonitor, c(Check::HideMonitor) },
    { "General", "Start Monitoring", "1", Form::Flag, &Settings::startMonitoring, c(Check::AutoStart) },
    { "General", "Run", "0", Form::Flag, &Settings::run, c(Check::StartRun) },
    { "General", "Run File", "None", Form::Text, &Settings::runFile, c(Text::StartRun) },
    { "General", "Logs", "True", Form::Switch, &Settings::logs, c(Choice::Logs) },
    { "General", "Start", "Sentrel II", Form::Marker, nullptr, -1 },
    { "Display", "Always On Top", "0", Form::Flag, &Settings::alwaysOnTop, c(Check::AlwaysTop) },
    { "Display", "Min On Startup", "1", Form::Flag, &Settings::minOnStartup, c(Check::Minimize) },
    { "Display", "Use IconTray", "1", Form::Flag, &Settings::useIconTray, c(Check::IconTray) },
    { "Display", "Use Hotkeys", "0", Form::Flag, &Settings::useHotkeys, c(Check::Hotkeys) },
    { "Display", "Auto Scroll Monitor", "1", Form::Flag, &Settings::autoScrollMonitor, c(Check::AutoScroll) },
    { "Display", "Windows Startup", "1", Form::Flag, &Settings::loadAtLogin, c(Check::LoadAtLogin) },
    { "Display", "Flash Icon", "1", Form::Flag, &Settings::flashIcon, c(Check::FlashIcon) },
    { "Display", "Change Background", "0", Form::Flag, &Settings::changeBackground,
        c(Check::DesktopBackground) },
    { "Display", "Attack Run", "0", Form::Flag, &Settings::attackRun, c(Check::AttackRun) },
    { "Display", "Attack Run File", "None", Form::Text, &Settings::attackRunFile, c(Text::AttackRun) },
    { "Display", "Copy Clipboard", "1", Form::Flag, &Settings::copyClipboard, c(Check::Clipboard) },
    { "Sounds", "On", "True", Form::Switch, &Settings::soundsOn, c(Choice::Sounds) },
    { "Sounds", "0", "NetOn.wav", Form::Text, nullptr, c(Text::Sound0) },
    { "Sounds", "1", "NetOff.wav", Form::Text, nullptr, c(Text::Sound1) },
    { "Sounds", "2", "Intruder.wav", Form::Text, nullptr, c(Text::Sound2) },
    { "Sounds", "3", "Start.wav", Form::Text, nullptr, c(Text::Sound3) },
    { "Ports", "Number", "11", Form::PortList, nullptr, -1 },
    { "Advance", "DDE On", "0", Form::Flag, &Settings::chatOn, c(Check::ChatOn) },
    { "Advance", "DDE Service", "mIRC", Form::Text, &Settings::chatService, c(Text::ChatService) },
    { "Advance", "RPS", "0", Form::Flag, &Settings::rps, c(Check::Rps) },
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
