#include "StatusDisplay.h"

#include "MonitoringState.h"
#include "StatusListView.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {
qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

StatusDisplay::StatusDisplay(const MonitoringState& monitoring, QObject* parent, AutoScrollHold::Clock clock)
    : QObject(parent)
    , m_monitoring(monitoring)
    , m_hold(clock ? std::move(clock) : AutoScrollHold::Clock(&steadyMs))
{
    m_autoScrollTimer.setInterval(1000);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &StatusDisplay::autoScrollStep);
}

StatusDisplay::~StatusDisplay()
{
    writeMirror();
    if (m_mirror)
        m_mirror->drain(std::chrono::seconds(1));
}

void StatusDisplay::setMirror(std::FILE* stream)
{
    writeMirror();
    if (m_mirror)
        m_mirror->drain(std::chrono::seconds(1));
    m_mirror.reset();
    if (stream) {
        std::fflush(stream); // what was printed before comes first
        m_mirror = std::make_unique<NonBlockingOutput>(fileno(stream));
    }
}

void StatusDisplay::addStatusLine(const QString& text)
{
    if (m_keepLines)
        m_model.append(QLatin1String(LinePrefix) + text);
    mirror(QLatin1StringView(LinePrefix), text);
}

void StatusDisplay::setStatusText(const QString& text)
{
    m_statusText = text;
    emit statusTextChanged(text);
    mirror({}, text);
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

void StatusDisplay::userUsedList(bool atEnd, int topRow)
{
    m_hold.userActed(atEnd);
    m_readerTopRow = topRow;
}

void StatusDisplay::autoScrollStep()
{
    if (m_hold.isHolding()) {
        m_held = true;
        return;
    }
    if (std::exchange(m_held, false))
        m_autoScrollPos = m_readerTopRow; // go on from where the reader left the view
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

void StatusDisplay::mirror(QLatin1StringView prefix, const QString& text)
{
    if (!m_mirror)
        return;
    // Status texts are nearly always ASCII: copied byte for byte into room made once for the
    // whole line, the rest converted.
    const qsizetype start = m_mirrorPending.size() + prefix.size();
    m_mirrorPending.resize(start + text.size() + 1);
    char* next = std::copy(prefix.begin(), prefix.end(), m_mirrorPending.data() + start - prefix.size());
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            m_mirrorPending.truncate(start);
            m_mirrorPending += text.toUtf8() + '\n';
            next = nullptr;
            break;
        }
        *next++ = char(c.unicode());
    }
    if (next)
        *next = '\n';
    m_mirrorFlush.schedule();
}

void StatusDisplay::writeMirror()
{
    if (!m_mirror || m_mirrorPending.isEmpty())
        return;
    m_mirror->write(m_mirrorPending);
    m_mirrorPending.resize(0); // keeps its capacity for the next pass
    if (m_mirror->isIdle()) {
        if (const quint64 lost = m_mirror->takeLost())
            addStatusLine(QStringLiteral("Standard output: %1 lines could not be written").arg(lost));
    }
}
