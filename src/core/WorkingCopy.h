#pragma once

#include <QObject>

// Values the options dialog edits until OK saves them. The controls bound to them show them again
// after every change; a control that wrote a user's edit into a value says so through edited().
class WorkingCopy : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void edited() = 0;

signals:
    // Some value changed; each control shows its value again where it differs.
    void changed();
    // Every value was replaced from the store; lists are filled again even when equal.
    void reloaded();
};
