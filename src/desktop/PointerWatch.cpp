#include "PointerWatch.h"

#include <QEvent>
#include <QMouseEvent>
#include <QWidget>

void PointerWatch::watch(QWidget* widget)
{
    widget->setMouseTracking(true); // movement without a pressed button
    widget->installEventFilter(this);
}

bool PointerWatch::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseMove)
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    const QWidget* under = widget->childAt(at);
    if (m_excluded && under && (under == m_excluded || m_excluded->isAncestorOf(under)))
        return false;
    emit moved();
    return false;
}
