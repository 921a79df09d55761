#pragma once

#include "AppLifecycle.h"
#include "DesktopServices.h"
#include "Foundation.h"
#include "MonitorGroup.h"
#include "OptionsGroup.h"
#include "SignalWatcher.h"
#include "WindowGroup.h"

#include <QObject>

// The running program: builds the feature groups in the order they depend on each other, wires
// what crosses between them and runs the start-up sequence.
class Application : public QObject
{
    Q_OBJECT

public:
    struct Paths : Foundation::Paths
    {
        QString bindHelper; // binds ports below 1024 for us; empty: none
    };

    explicit Application(const Paths& paths, QObject* parent = nullptr);
    ~Application() override;

    // Runs the start-up sequence and shows the window as start-up left it.
    void start();
    // Mirrors the status display to standard output (no display to show the window on).
    void mirrorStatusToStdout();
    // Nobody can see the window (the offscreen platform): the status list draws nothing.
    void runWithoutDisplay();
    // Brings the window forward, as a second start of the program asks.
    void restoreMonitor();
    // Records the program's exit and ends the event loop with the code.
    void quit(int exitCode);

    MonitoringSwitch& monitoring() { return m_monitor.monitoring(); }
    EventOutputs& events() { return m_foundation.events(); }
    const Settings& settings() { return m_foundation.settings().settings(); }

private:
    StartupTargets startupTargets();

    DesktopServices m_services;
    Foundation m_foundation;
    MonitorGroup m_monitor;
    WindowGroup m_window;
    AppLifecycle m_lifecycle;
    OptionsGroup m_options;
    SignalWatcher m_termination;
};
