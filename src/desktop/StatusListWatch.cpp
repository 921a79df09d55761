#include "StatusListWatch.h"

#include "StatusListModel.h"

#include <QEvent>

StatusListWatch::StatusListWatch(StatusListModel& model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

void StatusListWatch::watch(QWidget* list)
{
    for (QWidget* widget : { m_list.data(), m_window.data() })
        if (widget)
            widget->removeEventFilter(this);
    m_list = list;
    m_window = list ? list->window() : nullptr;
    for (QWidget* widget : { m_list.data(), m_window.data() })
        if (widget)
            widget->installEventFilter(this);
    update();
}

void StatusListWatch::setDisplayPresent(bool present)
{
    m_displayPresent = present;
    update();
}

bool StatusListWatch::isSeen() const
{
    if (!m_displayPresent)
        return false;
    if (!m_list)
        return true; // no widget to judge by: keep every view informed
    return m_list->isVisible() && !(m_list->window()->windowState() & Qt::WindowMinimized);
}

bool StatusListWatch::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::WindowStateChange:
        update();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void StatusListWatch::update()
{
    m_model.setWatched(isSeen());
}
