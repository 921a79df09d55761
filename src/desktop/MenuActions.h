#pragma once

#include <QObject>

class QAction;

// Every command of the monitor window's menus, created once: the menu bar and the tray's pop-up
// show the same actions, so a command behaves the same wherever it is chosen.
class MenuActions : public QObject
{
    Q_OBJECT

public:
    explicit MenuActions(QObject* parent = nullptr);

    QAction* const restore; // the tray pop-up's default item
    QAction* const clear;
    QAction* const exit; // File > Exit, with its shortcut Ctrl+Q
    // The tray menu's Exit: the same command, without a shortcut it could never answer there.
    QAction* const trayExit;
    QAction* const monitor; // checked while the list is shown
    QAction* const log;
    QAction* const history; // View > History, Ctrl+H
    QAction* const options;
    QAction* const contents;
    QAction* const testAlarm; // Help > Test Alarm: one loopback intrusion
    QAction* const about;
    QAction* const minimize; // "[ Minimize Now ]", a command of the menu bar itself
};
