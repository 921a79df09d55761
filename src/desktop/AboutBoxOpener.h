#pragma once

#include <QObject>
#include <QPointer>

class AboutBox;
class HotkeyControl;
class MonitorWindowAccess;
class SettingsManager;
class QWidget;

// Opens the About box without modality; while it is open the monitor window takes no input and
// the hotkeys are off. However it closes, the window comes back and so do the hotkeys when they
// are switched on.
class AboutBoxOpener : public QObject
{
    Q_OBJECT

public:
    AboutBoxOpener(MonitorWindowAccess& window, HotkeyControl& hotkeys, const SettingsManager& settings,
        QObject* parent = nullptr);
    ~AboutBoxOpener() override;

    void open();
    AboutBox* box() const;

private:
    void closed();

    MonitorWindowAccess& m_window;
    HotkeyControl& m_hotkeys;
    const SettingsManager& m_settings;
    QPointer<AboutBox> m_box;
};
