#pragma once

#include "PushRequest.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

// One try of one push, guarded against the server it goes to. The try ends by its deadline,
// answered or not, so a server that trickles its answer holds it no longer than one that never
// answers. Nothing a push service answers is of use beyond its status: a body of up to MaxReply
// bytes is read and thrown away (the connection can serve the next push), a longer one or one of
// unknown length ends the try once the status is in, so a server answering without end fills no
// memory. A redirect is followed only within the configured
// server's origin (scheme, host and port): the token goes to no other server.
class PushExchange : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 MaxReply = 4096;
    static constexpr int MaxRedirects = 5;

    PushExchange(QNetworkAccessManager& network, const PushSettings& settings, const PushMessage& message,
        std::chrono::milliseconds deadline, QObject* parent = nullptr);
    // Aborts a try still under way, without a word.
    ~PushExchange() override;

    // Once finished: why the try failed, fit for a status line (no token, no credentials or query of
    // a URL); empty when the service took the push.
    const QString& failure() const { return m_failure; }
    // Whether another try may succeed: no answer, or a server error (5xx).
    bool isRetryable() const { return m_retryable; }

signals:
    // Once, when the try has ended one way or the other.
    void finished();

private:
    void headersIn();
    void discardBody();
    void redirected(const QUrl& target);
    void ended();

    QPointer<QNetworkReply> m_reply;
    QString m_token;
    std::chrono::milliseconds m_deadlineLength;
    QTimer m_deadline;
    QUrl m_origin;
    QUrl m_refusedRedirect;
    qint64 m_bodyBytes = 0;
    bool m_timedOut = false;
    QString m_failure;
    bool m_retryable = false;
};
