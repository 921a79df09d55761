#include "OptionsCycle.h"

#include "DesktopSeams.h"
#include "MonitoringState.h"
#include "ListenerControl.h"
#include "SettingsManager.h"
#include "NetworkWatch.h"

#include <algorithm>
#include <utility>

OptionsCycle::OptionsCycle(Targets targets, int pageCount, QObject* parent)
    : QObject(parent)
    , m_targets(std::move(targets))
    , m_visible(std::size_t(pageCount), true)
{
}

void OptionsCycle::ok()
{
    m_targets.settings->saveSettings();
    m_saving = true;
    close();
}

void OptionsCycle::close()
{
    // The dialog as if rebuilt: its network watch timer stops with it, so that only re-applying
    // the settings starts it again, a full interval later; loading the settings drops every
    // pending edit and refills the port list from the store alone.
    m_targets.networkWatch->setEnabled(false);
    resetPages();
    m_targets.settings->loadSettings();

    m_targets.reapplySettings();
    m_targets.window->setMonitorEnabled(true);
    emit hideRequested();

    // Opening closed the listeners but left monitoring on; the sentinel comes back only with them.
    if (m_targets.monitoringState->isActive()) {
        m_targets.monitoring->openPortListeners();
        if (m_targets.settings->settings().rps.isOn())
            m_targets.monitoring->loadSentinel();
    }
    emit closed(std::exchange(m_saving, false));
}

bool OptionsCycle::isPageVisible(int page) const
{
    return page >= 0 && page < pageCount() && m_visible[std::size_t(page)];
}

void OptionsCycle::selectPage(int page)
{
    if (page < 0 || page >= pageCount())
        return;
    std::fill(m_visible.begin(), m_visible.end(), false);
    m_visible[std::size_t(page)] = true;
    emit pagesChanged();
}

int OptionsCycle::currentPage() const
{
    const auto first = std::find(m_visible.begin(), m_visible.end(), true);
    return first == m_visible.end() ? 0 : int(first - m_visible.begin());
}

void OptionsCycle::stepPage(int step)
{
    if (pageCount() > 0)
        selectPage(((currentPage() + step) % pageCount() + pageCount()) % pageCount());
}

void OptionsCycle::hoverLabel(int label)
{
    if (label < 0 || label >= pageCount() || label == m_highlighted)
        return;
    m_highlighted = label;
    emit highlightChanged();
}

void OptionsCycle::labelNormal()
{
    if (m_highlighted == NoLabel)
        return;
    m_highlighted = NoLabel;
    emit highlightChanged();
}

void OptionsCycle::resetPages()
{
    std::fill(m_visible.begin(), m_visible.end(), true);
    emit pagesChanged();
    labelNormal();
}
