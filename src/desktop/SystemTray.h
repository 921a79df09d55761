#pragma once

#include "IconFlasher.h"
#include "ProtectionState.h"
#include "TrayIcon.h"

#include <QImage>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <optional>

class MonitorWindowAccess;
class TrayBackend;

// The tray icon's behaviour: adding and removing it, the alarm flashing, what a click on it does,
// whether it is really shown (the window only hides into an icon the user can see), and the
// protection state in its image and tooltip.
class SystemTray : public QObject, public TrayIcon, public IconFlasher
{
    Q_OBJECT

public:
    enum class Action { None, Restore };

    SystemTray(TrayBackend& backend, MonitorWindowAccess& window, QObject* parent = nullptr);

    // What a tray activation asks for. The pop-up menu opens by itself on a context click.
    static Action decode(QSystemTrayIcon::ActivationReason reason, bool singleClickHost);

    // TrayIcon
    void trayIconAdd() override;
    void trayIconDelete() override;
    bool isShown() const override;

    // IconFlasher
    void startFlashing() override;

    // The icon's image for the state and the tooltip: "Sentrel", the state's summary, its remedy, and
    // the connections let through by the allow list when there were any.
    void showProtection(const ProtectionState& state, quint64 allowedCount);
    static QString toolTip(const ProtectionState& state, quint64 allowedCount);

    void stopIconFlashing();
    bool isFlashing() const { return m_flashTimer.isActive(); }
    // One flashing step: blank and normal in turn. The phase survives a stop, so an alert that
    // follows a stop on the blank icon starts with the normal one.
    void flashTick();

    // A mouse event on the icon: the decoded action, then the flashing stops.
    void activated(QSystemTrayIcon::ActivationReason reason);

private:
    TrayBackend& m_backend;
    MonitorWindowAccess& m_window;
    QTimer m_flashTimer;
    QImage m_programIcon;
    std::optional<ProtectionState::Kind> m_shownKind;
    bool m_flashPhase = false; // true: the last tick showed the blank icon
};
