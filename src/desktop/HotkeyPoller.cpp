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
        tellOnce(m_toldUnavailable, QString::fromLatin1(UnavailableText));
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

void HotkeyPoller::tellOnce(bool& told, const QString& text)
{
    if (!told && m_targets.status)
        m_targets.status->addStatusLine(text);
    told = true;
}

void HotkeyPoller::poll()
{
    if (!m_keys.isAvailable()) {
        unload();
        tellOnce(m_toldUnavailable, QString::fromLatin1(UnavailableText));
        return;
    }
    if (const QString limitation = m_keys.limitation(); !limitation.isEmpty())
        tellOnce(m_toldLimitation, limitation);

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
        m_targets.openOptions();
        unload();
    }
    if (pressed[FunctionKeyState::F12]) {
        m_targets.window->restoreMonitor();
        m_targets.clearMessages();
    }
}
