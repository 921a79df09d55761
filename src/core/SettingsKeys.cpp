#include "SettingsKeys.h"

#include "SettingValue.h"

#include <array>
#include <limits>

namespace SettingsKeys {

namespace {
// How a form reads stored text into its value (false: the text makes no sense) and writes it.
struct FlagForm
{
    static bool read(const QString& text, Flag& value) { return value = SettingValue::flag(text), true; }
    static QString write(Flag value) { return QString::number(value.value()); }
};
struct SwitchForm // "True"/"False", shown by an On/Off pair
{
    static bool read(const QString& text, bool& on) { return on = SettingValue::isTrue(text), true; }
    static QString write(bool on) { return SettingValue::fromSwitch(on); }
};
struct TextForm // stored and loaded unchanged
{
    static bool read(const QString& text, QString& value) { return value = text, true; }
    static QString write(const QString& value) { return value; }
};
struct TrimmedForm // stored and loaded without surrounding blanks
{
    static bool read(const QString& text, QString& value) { return value = text.trimmed(), true; }
    static QString write(const QString& value) { return value.trimmed(); }
};
struct OnOffForm // "1"/"0"; anything else reads as the first-start value
{
    static bool read(const QString& text, bool& on)
    {
        const QString t = text.trimmed();
        on = t == QLatin1String("1");
        return on || t == QLatin1String("0");
    }
    static QString write(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }
};
template <int Low, int High> struct NumberForm // a decimal integer from Low to High
{
    static bool read(const QString& text, int& value)
    {
        bool ok = false;
        value = text.trimmed().toInt(&ok, 10);
        return ok && value >= Low && value <= High;
    }
    static QString write(int value) { return QString::number(value); }
};
template <const auto& Names> struct ChoiceForm // one of the names, in any letter case
{
    template <typename E> static bool read(const QString& text, E& value)
    {
        const QString name = text.trimmed().toLower();
        for (std::size_t i = 0; i < Names.size(); ++i) {
            if (name == QLatin1String(Names[i]))
                return value = E(i), true;
        }
        return false;
    }
    template <typename E> static QString write(E value)
    {
        return QString::fromLatin1(Names[std::size_t(value)]);
    }
};
struct AllowForm // addresses and ranges separated by commas or blanks; the dialog saves one blank
{
    static bool read(const QString& text, Settings::Alarm& alarm)
    {
        alarm.allowEntries = AllowList::split(text);
        alarm.refused.clear();
        alarm.allow = AllowList::parse(text, &alarm.refused);
        return true;
    }
    static QString write(const Settings::Alarm& alarm)
    {
        return alarm.allowEntries.join(QLatin1Char(' ')).trimmed();
    }
};
struct CollectorForm
{
    static bool read(const QString& text, Settings::Collector& collector)
    {
        return collector = Settings::Collector::parse(text.trimmed(), collector.protocol), true;
    }
    static QString write(const Settings::Collector& collector) { return collector.text.trimmed(); }
};

// The field a row holds, a member of Settings or of one of its sections.
template <auto... Path> struct At
{
    // clang-format off
    template <typename S> static auto& in(S& settings) { return (settings .* ... .* Path); }
    // clang-format on
};

template <typename F, auto... Path>
constexpr Key row(const char* section, const char* key, const char* first, bool later)
{
    Key k { section, key, first, Form::Value, later };
    k.load = [](Settings& s, const QString& text, const char* firstStart) {
        if (!F::read(text, At<Path...>::in(s)))
            F::read(QString::fromLatin1(firstStart), At<Path...>::in(s));
    };
    k.save = [](const Settings& s) { return F::write(At<Path...>::in(s)); };
    return k;
}

// The original sections' rows.
template <auto Field> constexpr Key flag(const char* section, const char* key, const char* first)
{
    Key k = row<FlagForm, Field>(section, key, first, false);
    k.flag = Field;
    return k;
}
template <auto Field> constexpr Key onOff(const char* section, const char* key, const char* first)
{
    return row<SwitchForm, Field>(section, key, first, false);
}
template <auto Field> constexpr Key text(const char* section, const char* key, const char* first)
{
    return row<TextForm, Field>(section, key, first, false);
}
// The later sections' rows.
template <typename F, auto... Path>
constexpr Key later(const char* section, const char* key, const char* first)
{
    return row<F, Path...>(section, key, first, true);
}
template <auto... Path>
constexpr Key ports(const char* section, std::span<const char* const> first, bool later)
{
    Key k { section, PortCountKey, "", Form::PortList, later };
    k.list = [](Settings& s) -> QStringList& { return At<Path...>::in(s); };
    k.firstStartList = first;
    return k;
}

constexpr std::array<const char*, 12> kTcpPorts { "21", "23", "25", "53", "70", "79", "80", "137", "138",
    "139", "12345", "12346" };
// Ports scanners probe, none a desktop itself serves.
constexpr std::array<const char*, 11> kUdpPorts { "69", "135", "137", "138", "139", "161", "162", "445",
    "514", "520", "1434" };

constexpr int Unbounded = std::numeric_limits<int>::max();
constexpr int Day = 24 * 60 * 60;

using S = Settings;
using E = Settings::Events;
using A = Settings::Alarm;
using P = Settings::Push;
using D = Settings::Detection;
using H = Settings::History;
const auto kTable = std::to_array<Key>({
    flag<&S::hideMonitor>("General", "Hide Monitor", "0"),
    flag<&S::startMonitoring>("General", "Start Monitoring", "1"),
    flag<&S::run>("General", "Run", "0"),
    text<&S::runFile>("General", "Run File", "None"),
    onOff<&S::logs>("General", "Logs", "True"),
    { "General", "Start", "Sentrel II", Form::Marker },
    flag<&S::alwaysOnTop>("Display", "Always On Top", "0"),
    flag<&S::minOnStartup>("Display", "Min On Startup", "1"),
    flag<&S::useIconTray>("Display", "Use IconTray", "1"),
    flag<&S::useHotkeys>("Display", "Use Hotkeys", "0"),
    flag<&S::autoScrollMonitor>("Display", "Auto Scroll Monitor", "1"),
    flag<&S::loadAtLogin>("Display", "Windows Startup", "1"),
    flag<&S::flashIcon>("Display", "Flash Icon", "1"),
    flag<&S::changeBackground>("Display", "Change Background", "0"),
    flag<&S::attackRun>("Display", "Attack Run", "0"),
    text<&S::attackRunFile>("Display", "Attack Run File", "None"),
    flag<&S::copyClipboard>("Display", "Copy Clipboard", "1"),
    onOff<&S::soundsOn>("Sounds", "On", "True"),
    text<&S::netConnectedSound>("Sounds", "0", "NetOn.wav"),
    text<&S::netDisconnectedSound>("Sounds", "1", "NetOff.wav"),
    text<&S::intruderSound>("Sounds", "2", "Intruder.wav"),
    text<&S::startSound>("Sounds", "3", "Start.wav"),
    ports<&S::ports>("Ports", kTcpPorts, false),
    flag<&S::chatOn>("Advance", "DDE On", "0"),
    text<&S::chatService>("Advance", "DDE Service", "mIRC"),
    flag<&S::rps>("Advance", "RPS", "0"),

    later<OnOffForm, &S::events, &E::eventLog>("Events", "Event Log", "1"),
    later<NumberForm<1, Unbounded>, &S::events, &E::eventLogSizeMb>("Events", "Event Log Size", "10"),
    later<NumberForm<1, Unbounded>, &S::events, &E::eventLogFiles>("Events", "Event Log Files", "5"),
    later<OnOffForm, &S::events, &E::syslog>("Events", "Syslog", "1"),
    later<CollectorForm, &S::events, &E::collector>("Events", "Collector", ""),
    later<ChoiceForm<S::Collector::ProtocolNames>, &S::events, &E::collector, &S::Collector::protocol>(
        "Events", "Collector Protocol", "tcp"),
    later<ChoiceForm<E::FormatNames>, &S::events, &E::format>("Events", "Event Format", "sentrel"),
    later<TrimmedForm, &S::events, &E::metricsFile>("Events", "Metrics File", ""),
    later<OnOffForm, &S::alarm, &A::oneAlarmPerScan>("Alarm", "One Alarm Per Scan", "0"),
    // Longer would keep one source's incident open for good.
    later<NumberForm<1, Day>, &S::alarm, &A::scanGapSeconds>("Alarm", "Scan Gap", "60"),
    later<AllowForm, &S::alarm>("Alarm", "Allow", ""),
    later<OnOffForm, &S::alarm, &A::notifications>("Alarm", "Notifications", "1"),
    later<OnOffForm, &S::alarm, &A::blockIntruders>("Alarm", "Block Intruders", "0"),
    // The firewall helper blocks for at most a day.
    later<NumberForm<1, Day / 60>, &S::alarm, &A::blockMinutes>("Alarm", "Block Minutes", "60"),
    later<ChoiceForm<P::ServiceNames>, &S::push, &P::service>("Push", "Service", "none"),
    later<TrimmedForm, &S::push, &P::url>("Push", "URL", ""),
    later<TrimmedForm, &S::push, &P::token>("Push", "Token", ""),
    later<OnOffForm, &S::detection, &D::halfOpen>("Detection", "Half Open", "1"),
    later<OnOffForm, &S::detection, &D::stealthFlags>("Detection", "Stealth Flags", "1"),
    later<OnOffForm, &S::detection, &D::portScan>("Detection", "Port Scan", "1"),
    // One port would call every probe a scan; a window beyond an hour would keep a source's ports
    // for good.
    later<NumberForm<2, 65535>, &S::detection, &D::scanPorts>("Detection", "Scan Ports", "8"),
    later<NumberForm<1, 3600>, &S::detection, &D::scanWindowSeconds>("Detection", "Scan Window", "3"),
    ports<&S::detection, &D::udpPorts>("UDP Ports", kUdpPorts, true),
    later<OnOffForm, &S::history, &H::keep>("History", "Keep History", "1"),
    // A century at most: the pruning's arithmetic stays well inside its range.
    later<NumberForm<1, 36500>, &S::history, &H::days>("History", "History Days", "365"),
    later<NumberForm<1, 1024 * 1024>, &S::history, &H::sizeMb>("History", "History Size", "200"),
    later<OnOffForm, &S::history, &H::lookUpNames>("History", "Reverse DNS", "1"),
});
} // namespace

std::span<const Key> table()
{
    return kTable;
}

} // namespace SettingsKeys
