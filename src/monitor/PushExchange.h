#pragma once

#include "PushRequest.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

class QSslSocket;

// One try of one push, guarded against the server it goes to. A plain HTTP/1.1 exchange on a
// connection of its own, so that every byte read from the server is read here:
//  - the try ends by its deadline, answered or not, so a server that trickles its answer holds it
//    no longer than one that never answers;
//  - only the status line and the headers are read, at most MaxAnswer bytes of them; the body is
//    never read (the status says whether the push was taken), and the connection closes once the
//    headers are in, so a server answering without end fills no memory;
//  - a redirect is followed only within the configured address's origin (scheme, host and port),
//    at most MaxRedirects times: the push and its token go to no other server.
// An https address is verified as Qt verifies by default, against the system's authorities.
class PushExchange : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxAnswer = 8192;
    static constexpr int MaxRedirects = 5;

    PushExchange(const Settings::Push& settings, const PushMessage& message,
        std::chrono::milliseconds deadline, QObject* parent = nullptr);
    // Drops a try still under way, without a word.
    ~PushExchange() override;

    // Once finished: why the try failed, fit for a status line (no token, no credentials or query of
    // a URL); empty when the service took the push.
    const QString& failure() const { return m_failure; }
    // Whether another try may succeed: no answer, a network error, or a server error (5xx).
    bool isRetryable() const { return m_retryable; }

signals:
    // Once, when the try has ended one way or the other.
    void finished();

private:
    void connectTo(const QUrl& url);
    void sendRequest();
    void readAnswer();
    // Judges a whole head: the status line and the headers.
    void answered(const QByteArray& head);
    void end(const QString& failure, bool retryable);

    QNetworkRequest m_request;
    QByteArray m_body;
    QString m_token;
    std::chrono::milliseconds m_deadlineLength;
    QTimer m_deadline;
    QUrl m_url; // where the request goes now
    QUrl m_origin; // of the configured address
    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_answer;
    int m_redirects = 0;
    bool m_done = false;
    QString m_failure;
    bool m_retryable = false;
};
