#pragma once

#include "Settings.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

// What one push says: a title and a text for the phone services, the event's record for a webhook.
struct PushMessage
{
    enum class Priority { Default, High };

    QString title;
    QString text;
    Priority priority = Priority::Default;
    QByteArray record; // one JSON line, as events.jsonl holds it
};

// How each service wants a push. Every request is a POST.
namespace PushRequest {

struct Built
{
    QNetworkRequest request;
    QByteArray body;
};

// ntfy: the text to the topic's URL with "Title" and "Priority" headers; Gotify: JSON to
// <url>/message with the application token in "X-Gotify-Key"; webhook: the record as JSON. A
// token goes only into a header, so that no URL Qt may quote in an error carries it.
Built build(const Settings::Push& settings, const PushMessage& message);

// The message a "Send test" sends.
PushMessage testMessage(const QString& host);

} // namespace PushRequest
