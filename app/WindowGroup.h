#pragma once

#include "AboutBoxOpener.h"
#include "HelpCommands.h"
#include "HistoryOpener.h"
#include "HotkeyPoller.h"
#include "IntruderLineMenu.h"
#include "MainWindow.h"
#include "MenuActions.h"
#include "QtTrayBackend.h"
#include "SystemTray.h"
#include "SessionKeyState.h"

#include <QObject>

class Foundation;
class MonitorGroup;

// The monitor window and what hangs on it: the menus, the tray icon, the function keys, the About
// box, the help commands and the intruder lines' context menu.
class WindowGroup : public QObject
{
    Q_OBJECT

public:
    WindowGroup(Foundation& foundation, MonitorGroup& monitor);

    MainWindow& window() { return m_window; }
    SystemTray& tray() { return m_tray; }
    HotkeyPoller& hotkeys() { return m_hotkeys; }
    MenuActions& actions() { return m_actions; }
    HelpCommands& help() { return m_help; }
    HistoryOpener& history() { return m_history; }

signals:
    // Exit in the menus or the tray, closing the window, or the session logging out.
    void exitRequested();

private:
    void connectMenus(MonitorGroup& monitor);

    MenuActions m_actions;
    MainWindow m_window;
    QtTrayBackend m_trayBackend;
    SystemTray m_tray;
    SessionKeyState m_keyState;
    HotkeyPoller m_hotkeys;
    AboutBoxOpener m_about;
    HelpCommands m_help;
    IntruderLineMenu m_lineMenu;
    SourceActions m_sourceActions;
    HistoryOpener m_history;
};
