#include "AlertActions.h"

#include "ChatCommandSender.h"
#include "Clipboard.h"
#include "EventFields.h"
#include "EventFormat.h"
#include "IconFlasher.h"
#include "IntruderRecord.h"
#include "OptionsModel.h"
#include "ProgramLauncher.h"
#include "SettingsManager.h"
#include "SoundPlayer.h"
#include "WallpaperChanger.h"

#include <QDateTime>
#include <QDir>
#include <QStringBuilder>

AlertActions::AlertActions(const SettingsManager& settings, const OptionsModel& options,
    const AlertServices& services, const Throttle::Clock& clock)
    : m_settings(settings)
    , m_options(options)
    , m_services(services)
    , m_programThrottle(BurstInterval, clock)
    , m_soundThrottle(BurstInterval, clock)
    , m_wallpaperThrottle(BurstInterval, clock)
{
}

void AlertActions::intrusion(const Intrusion& intrusion)
{
    const IntruderRecord& intruder = intrusion.intruder;
    const Settings& s = m_settings.settings();

    if (s.flashIcon.isOn() && s.useIconTray.isOn())
        m_services.iconFlasher->startFlashing();
    if (intruder.alarmAlreadyRaised) {
        if (s.logs)
            m_log.writeLogEntry(s.appPath, intruder, QDateTime::currentMSecsSinceEpoch());
        return;
    }
    if (s.changeBackground.isOn() && m_wallpaperThrottle.tryPass())
        m_services.wallpaper->changeWallpaper(QDir(s.appPath).absoluteFilePath(wallpaperFileName()));
    if (s.attackRun.isOn() && m_programThrottle.tryPass())
        // A missing program is not reported: a line per intrusion would flood the status list.
        static_cast<void>(m_services.launcher->start(s.attackRunFile, attackEnvironment(intruder)));
    if (s.copyClipboard.isOn())
        m_services.clipboard->copyToClipboard(clipboardText(intruder));
    // The dialog's current text, pending edits included.
    if (s.soundsOn && m_soundThrottle.tryPass())
        m_services.soundPlayer->play(m_options.soundFile(OptionsModel::IntruderSound));
    if (s.logs)
        m_log.writeLogEntry(s.appPath, intruder, QDateTime::currentMSecsSinceEpoch());
    if (s.chatOn.isOn())
        m_services.chat->sendCommand(m_options.chatService(), chatCommand(intruder));
}

ProgramLauncher::Environment AlertActions::attackEnvironment(const IntruderRecord& intruder)
{
    // Data for the program goes in its environment, never on its command line: an address must
    // never become part of a command.
    return {
        { QStringLiteral("SENTREL_ADDRESS"), intruder.intruderIP },
        { QStringLiteral("SENTREL_PORT"), QString::number(intruder.attackedPort) },
        { QStringLiteral("SENTREL_SOURCE_PORT"), QString::number(intruder.sourcePort) },
        { QStringLiteral("SENTREL_TIME"), QString::fromLatin1(EventFormat::timestamp(intruder.time)) },
        { QStringLiteral("SENTREL_DETECTION"), QString::fromLatin1(intruder.detection) },
        { QStringLiteral("SENTREL_SPOOFABLE"),
            intruder.spoofable ? QStringLiteral("true") : QStringLiteral("false") },
    };
}

// Built in one piece: the clipboard's text is made for every intrusion, also where the clipboard
// takes only some of them.
QString AlertActions::clipboardText(const IntruderRecord& intruder)
{
    const EventFields::Digits port(intruder.attackedPort);
    return QLatin1StringView("Intruder IP: ") % intruder.intruderIP % QLatin1StringView(" Attacked Port: ")
        % QLatin1StringView(port.text, port.size);
}

QString AlertActions::chatCommand(const IntruderRecord& intruder)
{
    const EventFields::Digits port(intruder.attackedPort);
    return QLatin1StringView("/Sentrel ") % intruder.intruderIP % QLatin1Char(' ')
        % QLatin1StringView(port.text, port.size);
}
