#include "SourceActions.h"

#include "IntruderBlocker.h"
#include "IntruderLog.h"
#include "OptionsModel.h"
#include "SettingsManager.h"

#include <QDir>

SourceActions::SourceActions(
    SettingsManager& settings, OptionsModel& options, IntruderBlocker& blocker, std::function<bool()> optionsOpen)
    : m_settings(settings)
    , m_options(options)
    , m_blocker(blocker)
    , m_optionsOpen(std::move(optionsOpen))
{
}

bool SourceActions::isAllowed(const IpAddress& address, int port) const
{
    const AllowList& allow = m_settings.settings().alarm.allow;
    return port == 0 ? allow.contains(address) : allow.contains(address, port);
}

SourceActions::Allowed SourceActions::allow(const IpAddress& address, int port)
{
    if (m_optionsOpen && m_optionsOpen())
        return Allowed::OptionsOpen;
    if (isAllowed(address, port))
        return Allowed::AlreadyAllowed;
    m_options.append(OptionsModel::List::AllowEntries, AllowList::entryFor(address, port));
    m_settings.saveSettings();
    m_settings.loadSettings();
    m_settings.apply();
    return Allowed::Added;
}

bool SourceActions::block(const IpAddress& address, int seconds)
{
    return m_blocker.block(address, seconds);
}

bool SourceActions::unblock(const IpAddress& address)
{
    return m_blocker.unblock(address);
}

bool SourceActions::isBlocked(const IpAddress& address) const
{
    return m_blocker.isBlocked(address);
}

QString SourceActions::logPath() const
{
    return QDir(m_settings.settings().appPath).filePath(IntruderLog::fileName());
}
