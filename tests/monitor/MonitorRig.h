#pragma once

#include "Event.h"
#include "EventSink.h"
#include "IntruderAlert.h"
#include "MonitoringState.h"
#include "MonitoringSwitch.h"
#include "OptionsModel.h"
#include "SettingsManager.h"
#include "SettingsStore.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <list>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Status lines, texts, sounds and alerts in one log in the order they happened; the settings in memory.
struct Recorder final : StatusReporter, SoundPlayer, IntruderAlert, SettingsStore, EventSink
{
    void addStatusLine(const QString& text) override { log << "line:" + text; }
    void setStatusText(const QString& text) override { log << "text:" + text; }
    void play(const QString& fileName) override { log << "sound:" + fileName; }
    void raiseIntruderAlert(const IntruderRecord& r) override
    {
        log << "alert:" + r.intruderIP + '|' + QString::number(r.attackedPort) + '|' + r.intruderMessage;
    }
    QString read(const QString& g, const QString& k) const override { return values[g + '/' + k]; }
    void write(const QString& g, const QString& k, const QString& v) override { values[g + '/' + k] = v; }
    void sync() override { }
    void record(const Event& e) override { events.push_back(e); }
    QStringList lines() const { return log.filter("line:").replaceInStrings("line:", ""); }

    QStringList log;
    QHash<QString, QString> values;
    std::vector<Event> events;
};

// A monitoring switch with its settings in memory and everything it reports recorded.
struct MonitorRig
{
    explicit MonitorRig(
        const QStringList& ports, SentinelSchedule schedule = {}, bool rps = false, bool soundsOn = false)
        : monitoring(out, state, options, settings, out, out, out, std::move(schedule))
    {
        configure(ports, rps, soundsOn);
    }

    // The settings as loading them from the store leaves them, e.g. when the options close.
    void configure(const QStringList& ports, bool rps = false, bool soundsOn = false)
    {
        out.values = { { "Sounds/On", soundsOn ? "True" : "False" }, { "Sounds/3", "Start.wav" },
            { "Advance/RPS", rps ? "1" : "0" }, { "Ports/Number", QString::number(ports.size() - 1) } };
        for (int i = 0; i < ports.size(); ++i)
            out.values["Ports/" + QString::number(i)] = ports.at(i);
        settings.loadSettings();
    }

    Recorder out;
    OptionsModel options;
    SettingsManager settings { out, options };
    MonitoringState state;
    MonitoringSwitch monitoring;
};

// The log of one intrusion: the status text, six lines, then the alert with an empty message.
inline QStringList intrusionLog(const QString& address, int port)
{
    const QString p = QString::number(port);
    return { "text:Intruder Detected: " + address + " Port: " + p, "line:", "line:Intruder Detected",
        "line:IP: " + address, "line:Attacked Port: " + p, "line:Message: ", "line:End Of Attack",
        "alert:" + address + '|' + p + '|' };
}

// Raw loopback clients and port probes. Descriptors they return are the caller's to close.
namespace Loopback {

inline int newClient()
{
    return ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Probed by binding as a listener does (TIME_WAIT does not refuse it), on any interface, not by connecting.
inline bool isListening(int port)
{
    ListeningSocket probe;
    probe.setLocalPort(port);
    return probe.listen() == ListeningSocket::ListenResult::InUse;
}

struct Clients : std::vector<int> // client descriptors, closed when it goes
{
    using std::vector<int>::vector;
    ~Clients() { std::for_each(begin(), end(), ::close); }
};

// Distinct ports nothing listens on right now, picked by the system.
inline std::vector<int> freePorts(int count)
{
    std::list<ListeningSocket> held(static_cast<std::size_t>(count));
    std::vector<int> ports;
    for (ListeningSocket& socket : held)
        ports.push_back(socket.listen() == ListeningSocket::ListenResult::Ok ? socket.localPort() : -1);
    return ports;
}

// Starts connecting to 127.0.0.1 (an IPv4 peer, as ::ffff:127.0.0.1) or to ::1; false when refused.
inline bool startConnect(int fd, int port, bool ipv6 = false)
{
    sockaddr_in6 to { AF_INET6, htons(uint16_t(port)), 0, {}, 0 };
    ::inet_pton(AF_INET6, ipv6 ? "::1" : "::ffff:127.0.0.1", &to.sin6_addr);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 || errno == EINPROGRESS;
}

// An established connection, or -1.
inline int connectTo(int port, bool ipv6 = false)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (startConnect(fd, port, ipv6))
        return fd;
    ::close(fd);
    return -1;
}

// True when the server closes the connection (end of stream or reset) without sending a byte.
inline bool closedByServer(int fd)
{
    pollfd entry { fd, POLLIN, 0 };
    char byte = 0;
    return ::poll(&entry, 1, 2000) == 1 && ::recv(fd, &byte, 1, 0) <= 0;
}

} // namespace Loopback
