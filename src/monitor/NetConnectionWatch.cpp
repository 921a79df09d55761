#include "NetConnectionWatch.h"

#include "ConnectionProbe.h"
#include "OptionsModel.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

NetConnectionWatch::NetConnectionWatch(ConnectionProbe& probe, SoundPlayer& sounds,
    const OptionsModel& options, StatusReporter& status, std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent)
    , m_probe(probe)
    , m_sounds(sounds)
    , m_options(options)
    , m_status(status)
{
    m_timNetcheck.setInterval(interval);
    connect(&m_timNetcheck, &QTimer::timeout, this, &NetConnectionWatch::timNetcheckTimer);
}

void NetConnectionWatch::setEnabled(bool enabled)
{
    if (enabled)
        m_timNetcheck.start();
    else
        m_timNetcheck.stop();
}

void NetConnectionWatch::resetNetState()
{
    m_netState = false;
}

void NetConnectionWatch::timNetcheckTimer()
{
    // One reading serves both tests: two readings could straddle a change and report nothing for
    // it, or report it twice in one tick.
    const bool connected = m_probe.isRemoteConnectionActive();
    if (connected && m_netState != true) {
        // The sound names are the dialog's current text, edits not yet saved included.
        m_sounds.play(m_options.soundFile(OptionsModel::NetConnectedSound));
        m_netState = true;
        m_status.setStatusText(QStringLiteral("Net Detected."));
        emit connectionChanged(true);
    }
    if (!connected && m_netState == true) {
        m_sounds.play(m_options.soundFile(OptionsModel::NetDisconnectedSound));
        m_netState = false;
        m_status.setStatusText(QStringLiteral("Net Disconnected."));
        emit connectionChanged(false);
    }
}
