#pragma once

#include "DesktopSeams.h"
#include "StartupTargets.h"
#include "StatusListView.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QListView;
class QPushButton;
class StatusDisplay;

// The monitor window: three flat buttons, the status list, the status bar and the menus.
// Its layout is fixed, measured in twips at 15 twips per pixel.
class MainWindow : public QMainWindow,
                   public MonitorWindowControl,
                   public MonitorWindowAccess,
                   public StatusListView
{
    Q_OBJECT

public:
    enum FlatButton { StartButton = 0, MonitorButton = 1, OptionsButton = 2 };

    explicit MainWindow(StatusDisplay& status, QWidget* parent = nullptr);

    // Asked each time a minimized window is checked: true when it may go into the tray.
    void setTrayInUse(std::function<bool()> trayInUse) { m_trayInUse = std::move(trayInUse); }

    QPushButton* flatButton(int index) const { return m_flatButtons.at(std::size_t(index)); }
    bool isMonitorViewOn() const;

    // MonitorWindowControl
    void toggleMonitorView() override;
    void setAlwaysOnTop() override;
    void clearAlwaysOnTop() override;
    void minimize() override;
    void measureStatusList() override;
    void setAutoScrollEnabled(bool enabled) override;
    void startMinimizedWatch() override;
    void hideMinimizedMonitor() override;

    // MonitorWindowAccess
    void restoreMonitor() override;
    void setMonitorEnabled(bool enabled) override;

    // StatusListView
    int clientHeight() const override;
    int rowHeight() const override;
    void setTopRow(int row) override;

signals:
    void flatButtonClicked(int index);
    void exitRequested();
    void optionsRequested(OptionsOpenedBy openedBy);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildButtons(QWidget* central);
    void buildStatusBar(QWidget* central);
    void buildMenus();
    void setStaysOnTop(bool onTop);

    StatusDisplay& m_status;
    std::array<QPushButton*, 3> m_flatButtons {};
    QListView* m_list = nullptr;
    QFrame* m_statusBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    QAction* m_monitorAction = nullptr;
    QTimer m_minimizedWatch;
    std::function<bool()> m_trayInUse;
};
