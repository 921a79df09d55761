#include "CoalescedText.h"

#include <algorithm>

CoalescedText::CoalescedText(const QString& initial, int intervalMs, QObject* parent)
    : QObject(parent)
    , m_shown(initial)
    , m_latest(initial)
    , m_interval(intervalMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CoalescedText::send);
}

void CoalescedText::set(const QString& text)
{
    m_latest = text;
    if (m_timer.isActive())
        return;
    if (m_latest == m_shown)
        return;
    const qint64 since = m_sinceSent.isValid() ? m_sinceSent.elapsed() : m_interval;
    m_timer.start(int(std::max<qint64>(0, m_interval - since)));
}

void CoalescedText::send()
{
    // Changed and changed back within one interval: nothing to redraw.
    if (m_latest == m_shown)
        return;
    m_shown = m_latest;
    m_sinceSent.start();
    // A copy: a receiver may call forget() while the text is still being handed round.
    const QString text = m_shown;
    emit changed(text);
}
