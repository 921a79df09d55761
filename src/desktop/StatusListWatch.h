#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class StatusListModel;

// Tells the status list's model whether anybody can see the list: only then do new lines go
// through the view's layout and painting. Nobody sees it without a display, while its window is
// hidden or minimized, or while the list itself is hidden (the folded monitor view).
class StatusListWatch : public QObject
{
    Q_OBJECT

public:
    StatusListWatch(StatusListModel& model, QObject* parent = nullptr);

    // The widget showing the list; its window is watched too.
    void watch(QWidget* list);
    // False when no display exists at all: the list is then never seen.
    void setDisplayPresent(bool present);

    bool isSeen() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update();

    StatusListModel& m_model;
    QPointer<QWidget> m_list;
    QPointer<QWidget> m_window;
    bool m_displayPresent = true;
};
