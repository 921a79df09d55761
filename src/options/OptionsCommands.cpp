#include "OptionsCommands.h"

#include "BrowseResult.h"
#include "FieldChecks.h"
#include "OptionsModel.h"

#include <array>

namespace {
using BrowseResult::Target;

struct BrowseTarget
{
    QString Settings::*text;
    Target target;
};

// Button index to the text box it fills.
constexpr std::array<BrowseTarget, OptionsCommands::BrowseButtonCount> kBrowseTargets { {
    { &Settings::runFile, Target::CommandLine },
    { &Settings::attackRunFile, Target::CommandLine },
    { &Settings::netConnectedSound, Target::FileName },
    { &Settings::netDisconnectedSound, Target::FileName },
    { &Settings::intruderSound, Target::FileName },
    { &Settings::startSound, Target::FileName },
} };
} // namespace

OptionsCommands::OptionsCommands(OptionsModel& options, LogActions log)
    : m_options(options)
    , m_log(std::move(log))
{
}

void OptionsCommands::browse(int button)
{
    if (!m_prompts || button < 0 || button >= BrowseButtonCount)
        return;
    const BrowseTarget& to = kBrowseTargets[std::size_t(button)];
    // A cancelled browse is no answer: the box keeps what it held (a sound file is easily lost).
    const QString chosen = m_prompts->chooseFile();
    if (!chosen.isEmpty())
        m_options.set(to.text, BrowseResult::fromChoice(chosen, to.target));
}

QString OptionsCommands::addPort()
{
    if (!m_prompts)
        return {};
    const FieldChecks::PortAdd add = FieldChecks::addPort(m_prompts->askPort(), m_options.ports());
    if (!add.entry.isEmpty())
        m_options.append(OptionsModel::List::Ports, add.entry);
    return add.problem;
}

void OptionsCommands::removePorts(const QList<int>& selectedRows)
{
    m_options.remove(OptionsModel::List::Ports, selectedRows);
}

void OptionsCommands::readLog()
{
    if (m_log.read)
        m_log.read();
}

void OptionsCommands::purgeLog()
{
    if (m_log.purge)
        m_log.purge();
}
