#pragma once

#include "AppLifecycle.h"
#include "DesktopServices.h"
#include "Foundation.h"
#include "HeadlessDesktop.h"
#include "HistoryGroup.h"
#include "MonitorGroup.h"
#include "OptionsGroup.h"
#include "ProtectionIndicator.h"
#include "SignalWatcher.h"
#include "WindowGroup.h"

#include <QObject>

#include <memory>

// The running program: builds the feature groups in the order they depend on each other, wires
// what crosses between them and runs the start-up sequence.
class Application : public QObject
{
    Q_OBJECT

public:
    struct Paths : Foundation::Paths
    {
        QString bindHelper; // binds ports below 1024 for us; empty: none
        QString watchHelper; // opens the packet watch's socket for us; empty: none
        QString watchService; // a socket where a service runs the watch helper for us; empty: none
        QString blockHelper; // blocks addresses at the firewall for us; empty: none
    };

    // Without a display no window, dialog or tray is built: monitoring, the outputs, the alerts
    // that need no screen and the status display run as they do on a desktop.
    enum class Display { Window, None };

    Application(const Paths& paths, Display display, QObject* parent = nullptr);
    ~Application() override;

    // Runs the start-up sequence and shows the window as start-up left it.
    void start();
    // Mirrors the status display to standard output.
    void mirrorStatusToStdout() { m_foundation.status().setMirror(stdout); }
    // Brings the window forward, as a second start of the program asks.
    void restoreMonitor();
    // Records the program's exit and ends the event loop with the code.
    void quit(int exitCode);

    MonitoringSwitch& monitoring() { return m_monitor.monitoring(); }
    EventOutputs& events() { return m_foundation.events(); }
    const Settings& settings() { return m_foundation.settings().settings(); }
    const PacketWatch& packetWatch() const { return m_monitor.packetWatch(); }
    const IntruderBlocker& blocker() { return m_monitor.blocker(); }
    HistoryGroup& history() { return m_history; }

private:
    StartupTargets startupTargets();

    DesktopServices m_services;
    Foundation m_foundation;
    HistoryGroup m_history; // gone after monitoring: the last incidents' ends reach it
    MonitorGroup m_monitor;
    std::unique_ptr<WindowGroup> m_window; // none without a display
    std::unique_ptr<HeadlessDesktop> m_headless; // stands in for the window without a display
    ProtectionIndicator m_protection;
    AppLifecycle m_lifecycle;
    std::unique_ptr<OptionsGroup> m_options; // with the window only
    SignalWatcher m_termination;
    bool m_started = false;
};
