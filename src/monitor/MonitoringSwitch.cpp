#include "MonitoringSwitch.h"

#include "MonitoringState.h"
#include "OptionsModel.h"
#include "SettingValue.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "StatusReporter.h"

namespace {
const QString StartCaption = QStringLiteral("Start");
const QString StopCaption = QStringLiteral("Stop");

// An entry names a port only when it is a decimal whole number from 1 to 65535: 0 would let the
// system pick a port nobody asked for.
int portOf(const QString& entry)
{
    bool ok = false;
    const int port = entry.toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? port : 0;
}
} // namespace

MonitoringSwitch::MonitoringSwitch(StatusReporter& status, MonitoringState& monitoringState,
    const OptionsModel& options, const SettingsManager& settings, SoundPlayer& soundPlayer,
    IntruderAlert& alert, SentinelSchedule sentinelSchedule, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_monitoringState(monitoringState)
    , m_options(options)
    , m_settings(settings)
    , m_soundPlayer(soundPlayer)
    , m_intrusions(status, alert)
    , m_sentinel(m_intrusions, std::move(sentinelSchedule))
    , m_caption(StartCaption)
{
    wsPortsElement(0);
}

MonitoringSwitch::~MonitoringSwitch() = default;

void MonitoringSwitch::toggleMonitoring()
{
    const Settings& settings = m_settings.settings();
    if (m_caption == StartCaption) {
        if (SettingValue::isTrue(settings.soundsOn))
            m_soundPlayer.play(m_options.soundFile(OptionsModel::StartSound));
        openPortListeners();
        m_monitoringState.setActive(true);
        if (SettingValue::isOn(settings.rps))
            loadSentinel();
        m_status.setStatusText(QStringLiteral("Protecting.."));
        setCaption(StopCaption);
    } else {
        closePortListeners();
        m_status.addStatusLine(QStringLiteral("Monitoring Ports Disabled."));
        m_status.setStatusText(QStringLiteral("Disabled."));
        setCaption(StartCaption);
        m_monitoringState.setActive(false);
        unloadSentinel();
    }
}

void MonitoringSwitch::unloadSentinel()
{
    m_sentinel.unload();
}

void MonitoringSwitch::loadSentinel()
{
    m_sentinel.load();
}

void MonitoringSwitch::openPortListeners()
{
    const QStringList& ports = m_options.ports();
    for (int i = 0; i < ports.size(); ++i)
        openPortListener(i, ports.at(i));
    m_monitoringState.setActive(true);
}

void MonitoringSwitch::openPortListener(int index, const QString& entry)
{
    ListeningSocket& listener = wsPortsElement(index);
    const bool report = !m_monitoringState.isActive();
    const int port = portOf(entry);
    if (port == 0) {
        // Never fall back to whatever port the element served before.
        listener.close();
        if (report)
            m_status.addStatusLine(QLatin1String("Port: ") + entry + QLatin1String(" is not a valid port"));
        return;
    }

    listener.setLocalPort(port);
    const ListeningSocket::ListenResult result = listener.listen();
    if (!report)
        return;
    const QString p = QString::number(listener.localPort());
    switch (result) {
    case ListeningSocket::ListenResult::Ok:
        m_status.addStatusLine(QLatin1String("Monitoring Port: ") + p);
        break;
    case ListeningSocket::ListenResult::NeedsPrivileges:
        m_status.addStatusLine(QLatin1String("Port: ") + p + QLatin1String(" needs administrator rights"));
        break;
    case ListeningSocket::ListenResult::InUse:
    case ListeningSocket::ListenResult::OtherError:
        m_status.addStatusLine(QLatin1String("Port: ") + p + QLatin1String(" is already open"));
        break;
    }
}

void MonitoringSwitch::closePortListeners()
{
    // All elements, not only as many as the list has now: none may outlive an edit of the list.
    for (const auto& listener : m_wsPorts) {
        listener->setLocalPort(0);
        listener->close();
    }
}

ListeningSocket& MonitoringSwitch::wsPortsElement(int index)
{
    while (int(m_wsPorts.size()) <= index) {
        auto& listener = m_wsPorts.emplace_back(std::make_unique<ListeningSocket>());
        connect(listener.get(), &ListeningSocket::connectionAccepted, this,
            [this](const QString& peer, int port) { m_intrusions.handleIntrusion(peer, port); });
    }
    return *m_wsPorts[std::size_t(index)];
}

void MonitoringSwitch::setCaption(const QString& caption)
{
    m_caption = caption;
    emit captionChanged(m_caption);
}
