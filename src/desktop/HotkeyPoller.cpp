#include "HotkeyPoller.h"

#include "StatusReporter.h"

HotkeyPoller::HotkeyPoller(
    FunctionKeyState& keys, HotkeyTargets targets, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent)
    , m_keys(keys)
    , m_targets(std::move(targets))
{
    m_pollTimer.setInterval(interval);
    connect(&m_pollTimer, &QTimer::timeout, this, &HotkeyPoller::poll);
}

void HotkeyPoller::load()
{
    if (isLoaded())
        return;
    if (!m_keys.isAvailable()) {
        // Pretending to poll keys nobody can see would leave the user pressing F9 in vain.
        if (!m_toldUnavailable && m_targets.status)
            m_targets.status->addStatusLine(QString::fromLatin1(UnavailableText));
        m_toldUnavailable = true;
        return;
    }
    m_keys.startWatching();
    m_pollTimer.start();
}

void HotkeyPoller::unload()
{
    if (!isLoaded())
        return;
    m_pollTimer.stop();
    m_keys.stopWatching();
}

void HotkeyPoller::poll()
{
    // All four keys are read before any action: F11 unloads the poller and stops the key watch,
    // yet the F12 of the same poll still counts.
    bool pressed[4];
    for (int key = FunctionKeyState::F9; key <= FunctionKeyState::F12; ++key)
        pressed[key] = m_keys.takePressed(FunctionKeyState::Key(key));

    if (pressed[FunctionKeyState::F9]) {
        m_targets.window->restoreMonitor();
        m_targets.monitoring->toggleMonitoring();
    }
    if (pressed[FunctionKeyState::F10]) {
        m_targets.window->restoreMonitor();
        m_targets.view->toggleMonitorView();
    }
    if (pressed[FunctionKeyState::F11]) {
        m_targets.window->restoreMonitor();
        m_targets.options->openOptions(OptionsOpenedBy::Hotkey);
        unload();
    }
    if (pressed[FunctionKeyState::F12]) {
        m_targets.window->restoreMonitor();
        m_targets.clearMessages();
    }
}
