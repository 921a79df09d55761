#pragma once

#include "DesktopSeams.h"
#include "PointerWatch.h"
#include "MonitorWindowControl.h"
#include "TrayIcon.h"
#include "StatusListView.h"

#include <QMainWindow>
#include <QTimer>

#include <array>

class CoalescedText;
class ElidedLabel;
class MenuActions;
class QFrame;
class QLabel;
class QListView;
class QPushButton;
class StatusDisplay;

// The monitor window: three flat buttons, the status list, the status bar and the menus.
// Its layout is measured in twips at 15 twips per pixel. The heights are fixed; the window may be
// widened, and the list and the status bar widen with it, so that a long address can be read.
class MainWindow : public QMainWindow,
                   public MonitorWindowControl,
                   public MonitorWindowAccess,
                   public StatusListView
{
    Q_OBJECT

public:
    enum FlatButton { StartButton = 0, MonitorButton = 1, OptionsButton = 2 };

    MainWindow(StatusDisplay& status, MenuActions& actions, QWidget* parent = nullptr);

    // Shows the window in the state start-up left it, minimized included.
    void showAsStartedUp();

    // The icon a minimized window hides into; without one shown, it stays on the task bar.
    void setTray(const TrayIcon* tray) { m_tray = tray; }
    // Whether the desktop keeps a minimized window within reach without a tray icon. An X11 window
    // manager lists it on a task bar or in a menu; a Wayland compositor need not (weston keeps it
    // nowhere), and no protocol tells a program whether it does.
    void setMinimizedReachable(bool reachable) { m_minimizedReachable = reachable; }

    // How a later start of the program brings the window forward.
    enum class Forward {
        Raise, // the window manager raises and focuses it when asked (X11)
        Activate, // the compositor's activation protocol, with the later start's token if it had one
        Remap, // a compositor without one puts a window it maps anew on top: hide and show it again
    };
    void comeForward(Forward way, const QString& activationToken);

    // The monitor view: the status list shown (expanded) or folded away (collapsed).
    enum class MonitorView { Expanded, Collapsed };
    // The monitor button's caption for a view, "Monitor [ON]" while the list is shown.
    static QString monitorCaption(MonitorView view);

    QPushButton* flatButton(int index) const { return m_flatButtons.at(std::size_t(index)); }
    bool isMonitorViewOn() const { return m_view == MonitorView::Expanded; }
    QListView* statusList() const { return m_list; }
    QFrame* statusBar() const { return m_statusBar; }

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
    // The Start and the Options button; the monitor button switches the view itself.
    void flatButtonClicked(int index);
    void exitRequested();
    // The mouse moved over the window, its buttons or its status bar (not over the list).
    void pointerMoved();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildButtons(QWidget* central);
    void buildStatusBar(QWidget* central);
    void buildMenus(MenuActions& actions);
    void applyViewHeight();
    // The list and the status bar across the client area's width; the sunken bar to its bottom.
    void fitClientArea();
    // The status bar's least height: the label's text whole inside the sunken frame.
    int statusLabelHeight() const;
    // After the user's key, wheel or scroll-bar action on the list, once it has taken effect.
    void reportListUse();
    void setStaysOnTop(bool onTop);

    StatusDisplay& m_status;
    MonitorView m_view = MonitorView::Expanded;
    std::array<QPushButton*, 3> m_flatButtons {};
    QFrame* m_band = nullptr;
    QListView* m_list = nullptr;
    QFrame* m_statusBar = nullptr;
    QFrame* m_sunken = nullptr;
    ElidedLabel* m_statusLabel = nullptr;
    bool m_listUseQueued = false;
    CoalescedText* m_statusText = nullptr;
    QAction* m_monitorAction = nullptr;
    PointerWatch m_pointerWatch;
    QTimer m_minimizedWatch;
    const TrayIcon* m_tray = nullptr;
    bool m_minimizedReachable = true;
};
