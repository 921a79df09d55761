#include "StatusDisplay.h"

#include "MonitoringState.h"
#include "StatusListView.h"

StatusDisplay::StatusDisplay(const MonitoringState& monitoring, QObject* parent)
    : QObject(parent)
    , m_monitoring(monitoring)
{
    m_autoScrollTimer.setInterval(1000);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &StatusDisplay::autoScrollStep);

    // The mirror is flushed once per event-loop pass, like the list, so a flood of intrusions
    // does not cost one write per line.
    m_mirrorFlush.setSingleShot(true);
    m_mirrorFlush.setInterval(0);
    connect(&m_mirrorFlush, &QTimer::timeout, this, [this] {
        if (m_mirror)
            std::fflush(m_mirror);
    });
}

void StatusDisplay::addStatusLine(const QString& text)
{
    const QString line = QLatin1String(LinePrefix) + text;
    m_model.append(line);
    mirror(line);
}

void StatusDisplay::setStatusText(const QString& text)
{
    m_statusText = text;
    emit statusTextChanged(text);
    mirror(text);
}

void StatusDisplay::clearStatusList()
{
    m_model.clear();
}

void StatusDisplay::resetStatusText()
{
    setStatusText(m_monitoring.isActive() ? QStringLiteral("Protecting..") : QStringLiteral("Disabled."));
}

void StatusDisplay::clearMessages()
{
    clearStatusList();
    resetStatusText();
}

void StatusDisplay::measureStatusList()
{
    if (!m_view)
        return;
    const int rowHeight = m_view->rowHeight();
    if (rowHeight <= 0)
        return; // a failed measure leaves the earlier values
    m_itemHeight = rowHeight;
    m_visibleRows = m_view->clientHeight() / rowHeight;
}

void StatusDisplay::setAutoScrollEnabled(bool enabled)
{
    if (enabled && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!enabled)
        m_autoScrollTimer.stop();
}

void StatusDisplay::autoScrollStep()
{
    ++m_autoScrollPos;
    if (m_autoScrollPos > m_model.lineCount() - m_visibleRows)
        m_autoScrollPos = 0;
    // Scrolling a list nobody sees made the view lay out every row each second; the position
    // keeps cycling and the view follows at the first step after it can be seen again.
    if (!m_model.isWatched())
        return;
    m_model.flush();
    if (m_view && m_model.lineCount() > 0)
        m_view->setTopRow(m_autoScrollPos);
}

void StatusDisplay::mirror(const QString& text)
{
    if (!m_mirror)
        return;
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_mirror);
    std::fputc('\n', m_mirror);
    if (!m_mirrorFlush.isActive())
        m_mirrorFlush.start();
}
