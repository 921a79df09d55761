#pragma once

#include "AllowList.h"

#include <QString>
#include <QStringList>

#include <array>

// A check box as stored: "0" unchecked, "1" checked, "2" grayed. The store is a file a user may
// edit: another number is kept as read and counts as neither on nor off, and text that is not a
// decimal number reads as 0.
class Flag
{
public:
    constexpr Flag(int value = 0)
        : m_value(value)
    {
    }

    constexpr int value() const { return m_value; }
    constexpr bool isOn() const { return m_value == 1; }
    constexpr bool isOff() const { return m_value == 0; }
    // What a check box shows for it: a number outside the three states shows unchecked.
    constexpr Flag checkState() const { return m_value >= 0 && m_value <= 2 ? *this : Flag(0); }
    bool operator==(const Flag&) const = default;

private:
    int m_value;
};

// The values of every store section, parsed once when they are loaded.
struct Settings
{
    // Where the events also go over the network, as typed: "host:port", an IPv6 host in brackets;
    // empty for none.
    struct Collector
    {
        enum class Protocol { Tcp, Udp };
        static constexpr std::array<const char*, 2> ProtocolNames { "tcp", "udp" };

        QString text = {};
        Protocol protocol = Protocol::Tcp;
        // Set when the text reads as host:port; otherwise problem says why not, in the allow list's
        // form ("text": reason), and stays empty for an empty text.
        QString host = {};
        int port = 0;
        QString problem = {};

        // The text read as a collector; the protocol is left alone.
        static Collector parse(const QString& text, Protocol protocol = Protocol::Tcp);
        bool isOn() const { return port != 0; }
        bool operator==(const Collector&) const = default;
    };

    // The program folder with a trailing separator: where "Log.txt" and the bare-named sounds and
    // bitmap live. Not stored; set once at start-up.
    QString appPath;

    // General
    Flag hideMonitor;
    Flag startMonitoring;
    Flag run;
    QString runFile;
    bool logs = false;

    // Display
    Flag alwaysOnTop;
    Flag minOnStartup;
    Flag useIconTray;
    Flag useHotkeys;
    Flag autoScrollMonitor;
    Flag loadAtLogin;
    Flag flashIcon;
    Flag changeBackground;
    Flag attackRun;
    QString attackRunFile;
    Flag copyClipboard;

    // Sounds
    bool soundsOn = false;
    QString netConnectedSound;
    QString netDisconnectedSound;
    QString intruderSound;
    QString startSound;

    // Ports: the entries as stored, valid or not.
    QStringList ports;

    // Advance
    Flag chatOn;
    QString chatService;
    Flag rps;

    // Events: which machine-readable outputs are on.
    struct Events
    {
        // "sentrel": the program's own fields; "ecs": the Elastic Common Schema, for SIEMs.
        enum class Format { Sentrel, Ecs };
        static constexpr std::array<const char*, 2> FormatNames { "sentrel", "ecs" };

        bool eventLog = true;
        int eventLogSizeMb = 10;
        int eventLogFiles = 5;
        bool syslog = true;
        Collector collector = {};
        Format format = Format::Sentrel;
        // A Prometheus text file of counters, rewritten when they change; empty for none.
        QString metricsFile = {};
        bool operator==(const Events&) const = default;
    } events;

    // Alarm: how intrusions are grouped into incidents, which sources are allowed, whether the
    // desktop is notified, and the automatic blocking at the firewall.
    struct Alarm
    {
        // The disruptive alert actions run once per incident instead of once per connection.
        bool oneAlarmPerScan = false;
        // Seconds without a connection from a source after which its incident ends.
        int scanGapSeconds = 60;
        // The entries as typed, the sources they allow and the entries that are no address or range.
        QStringList allowEntries = {};
        AllowList allow = {};
        QList<AllowList::Refusal> refused = {};
        bool notifications = true;
        bool blockIntruders = false;
        int blockMinutes = 60;
    } alarm;

    // Push: the service that carries an incident to the user's phone, its address and its secret.
    struct Push
    {
        enum class Service { None, Ntfy, Gotify, Webhook };
        static constexpr std::array<const char*, 4> ServiceNames { "none", "ntfy", "gotify", "webhook" };

        Service service = Service::None;
        QString url; // ntfy: the topic's URL; Gotify: the server's; webhook: where the records go
        // ntfy: an access token (sent as a bearer token); Gotify: the application's token. Kept only
        // in the private settings file: never in a status line, an event or an error text.
        QString token;

        QString serviceName() const { return QString::fromLatin1(ServiceNames[std::size_t(service)]); }
        // On: a service and an address to send to.
        bool isOn() const { return service != Service::None && !url.isEmpty(); }
        bool operator==(const Push&) const = default;
    } push;

    // Detection and "UDP Ports": which probes that never complete a connection raise an alarm,
    // when a source counts as scanning, and the UDP tripwires.
    struct Detection
    {
        bool halfOpen = true; // a SYN to a guarded port that no accepted connection follows
        bool stealthFlags = true; // FIN, NULL, Xmas and the other flag sets no connection sends
        bool portScan = true;
        // A source is scanning once it touched this many distinct ports within the window.
        int scanPorts = 8;
        int scanWindowSeconds = 3;
        // Entries as typed, like the TCP list.
        QStringList udpPorts;
        bool operator==(const Detection&) const = default;
    } detection;

    // History: the searchable record of past incidents, how long and how large it may grow, and
    // whether a source's details look its name up in the DNS.
    struct History
    {
        bool keep = true;
        int days = 365;
        int sizeMb = 200;
        bool lookUpNames = true;
        bool operator==(const History&) const = default;
    } history;

    // The four sound files in the order of their store keys "0" to "3".
    static constexpr std::array<QString Settings::*, 4> SoundFiles { &Settings::netConnectedSound,
        &Settings::netDisconnectedSound, &Settings::intruderSound, &Settings::startSound };
};
