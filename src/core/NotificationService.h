#pragma once

#include <QString>

// The desktop's notification pop-ups. One key is one notification: notifying again with the same
// key updates it in place instead of adding another.
class NotificationService
{
public:
    virtual ~NotificationService() = default;
    virtual void notify(quint64 key, const QString& summary, const QString& body) = 0;
    // Whether notify() for this key would be shown now; lets a caller skip building the text.
    virtual bool canNotify(quint64 key) { return (void)key, true; }
    // Whether the key's notification is still on the desktop: a later change to what it says must
    // not bring back one the user or the server has closed.
    virtual bool isOpen(quint64 key) const { return (void)key, true; }
};
