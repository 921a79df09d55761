#pragma once

#include <QObject>

class QWidget;

// Reports mouse movement over the widgets it watches, without grabbing the mouse. Movement over
// an excluded widget (and its children) is not reported, even where Qt passes it on to a watched
// parent.
class PointerWatch : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void watch(QWidget* widget);
    void exclude(QWidget* widget) { m_excluded = widget; }

signals:
    void moved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_excluded = nullptr;
};
