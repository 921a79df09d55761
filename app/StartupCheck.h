#pragma once

#include "DesktopProbe.h"
#include "Event.h"
#include "EventSink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>

class EventOutputs;
class IntruderBlocker;
class MonitoringSwitch;
class PacketWatch;
struct Settings;

// "--check": makes one loopback connection to the first armed port and waits until that intrusion
// is in every enabled output ("Log.txt" too when logging is on), then prints how long it took, and
// whether every guard works: "passed with gaps" names each missing one and the remedy, and ends
// with GapsExitCode. Install it before start-up so it hears why ports could not be armed. After
// the loopback line, one line per desktop capability of this session.
class StartupCheck : public QObject, public EventSink
{
    Q_OBJECT

public:
    using Finish = std::function<void(int exitCode)>;
    static constexpr int GapsExitCode = 4;

    StartupCheck(MonitoringSwitch& monitoring, EventOutputs& events, const Settings& settings, std::FILE* out,
        Finish finish, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~StartupCheck() override;

    // Runs once start-up is done; switches monitoring on if start-up left it off.
    void run();
    // The packet watch whose state follows the loopback line; none: no such line.
    void setPacketWatch(const PacketWatch* watch) { m_watch = watch; }
    // What blocks intruders; its first answer is waited for while "Block Intruders" is on.
    void setBlocker(const IntruderBlocker* blocker) { m_blocker = blocker; }

    void record(const Event& event) override;

private:
    void poll();
    void pass();
    void fail(const QString& why);
    // Prints the desktop's capabilities once the probe has them, then finishes.
    void end(int exitCode);
    QString logFile() const;
    // "TCP ports 21, 23 are already open; UDP port 137 needs administrator rights".
    QString unguardedText() const;
    void printPacketWatch();

    MonitoringSwitch& m_monitoring;
    EventOutputs& m_events;
    const Settings& m_settings;
    std::FILE* m_out;
    Finish m_finish;
    std::chrono::milliseconds m_timeout;
    QTcpSocket m_client;
    quint16 m_clientPort = 0;
    QTimer m_poll;
    QElapsedTimer m_elapsed;
    int m_port = 0;
    qint64 m_logSizeBefore = -1;
    quint64 m_sequence = 0;
    std::map<int, quint64> m_intrusionsBySourcePort;
    QList<Event> m_unguarded;
    const PacketWatch* m_watch = nullptr;
    const IntruderBlocker* m_blocker = nullptr;
    bool m_done = false;
    DesktopProbe m_desktop;
};
