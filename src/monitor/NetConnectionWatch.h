#pragma once

#include "NetworkWatch.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class ConnectionProbe;
class OptionsModel;
class SoundPlayer;
class StatusReporter;

// Looks every few seconds whether the computer is connected and tells the user when that changes,
// with the "Net Connection" or "Net Disconnect" sound and a status text. Part of the sound alerts:
// it ticks only while sounds are on.
class NetConnectionWatch : public QObject, public NetworkWatch
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultInterval { 7000 };

    NetConnectionWatch(ConnectionProbe& probe, SoundPlayer& sounds, const OptionsModel& options,
        StatusReporter& status, std::chrono::milliseconds interval = DefaultInterval,
        QObject* parent = nullptr);

    // Enabling starts a full interval, also when the watch was already on.
    void setEnabled(bool enabled) override;
    void resetNetState() override;

    bool isEnabled() const { return m_timNetcheck.isActive(); }
    const QTimer& timer() const { return m_timNetcheck; }
    // The state last reported: unset until the first report, then connected or not.
    std::optional<bool> netState() const { return m_netState; }

    // One look at the connection.
    void timNetcheckTimer();

signals:
    // A change was reported to the user.
    void connectionChanged(bool connected);

private:
    ConnectionProbe& m_probe;
    SoundPlayer& m_sounds;
    const OptionsModel& m_options;
    StatusReporter& m_status;
    QTimer m_timNetcheck;
    std::optional<bool> m_netState;
};
