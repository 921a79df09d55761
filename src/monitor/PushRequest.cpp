#include "PushRequest.h"

#include "Event.h"
#include "EventFormat.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace PushRequest {

namespace {
QByteArray ntfyPriority(PushMessage::Priority priority)
{
    return priority == PushMessage::Priority::High ? "4" : "3";
}

int gotifyPriority(PushMessage::Priority priority)
{
    return priority == PushMessage::Priority::High ? 8 : 5;
}
} // namespace

Built build(const Settings::Push& settings, const PushMessage& message)
{
    QUrl url(settings.url);
    Built built;
    QByteArray contentType = "application/json";
    switch (settings.service) {
    case Settings::Push::Service::Ntfy:
        contentType = "text/plain; charset=utf-8";
        built.body = message.text.toUtf8();
        built.request.setRawHeader("Title", message.title.toUtf8());
        built.request.setRawHeader("Priority", ntfyPriority(message.priority));
        break;
    case Settings::Push::Service::Gotify: {
        QString path = url.path();
        while (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        url.setPath(path + QLatin1String("/message"));
        built.body = QJsonDocument(QJsonObject { { QStringLiteral("title"), message.title },
                                       { QStringLiteral("message"), message.text },
                                       { QStringLiteral("priority"), gotifyPriority(message.priority) } })
                         .toJson(QJsonDocument::Compact);
        if (!settings.token.isEmpty())
            built.request.setRawHeader("X-Gotify-Key", settings.token.toUtf8());
        break;
    }
    case Settings::Push::Service::Webhook:
    case Settings::Push::Service::None:
        built.body = message.record;
        break;
    }
    if (!settings.token.isEmpty() && settings.service != Settings::Push::Service::Gotify)
        built.request.setRawHeader("Authorization", "Bearer " + settings.token.toUtf8());
    built.request.setUrl(url);
    built.request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    built.request.setHeader(QNetworkRequest::UserAgentHeader,
        QStringLiteral("Sentrel/%1").arg(QCoreApplication::applicationVersion()));
    return built;
}

PushMessage testMessage(const QString& host)
{
    PushMessage message;
    message.title = QStringLiteral("Sentrel Test");
    message.text = QStringLiteral("A test push from Sentrel on %1.").arg(host);
    message.record = "{\"time\":\"" + EventFormat::timestamp(Event::localNow())
        + "\",\"event\":\"push_test\",\"host\":" + EventFormat::jsonString(host) + "}\n";
    return message;
}

} // namespace PushRequest
