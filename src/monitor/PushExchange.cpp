#include "PushExchange.h"

#include <QSslSocket>

namespace {
int defaultPort(const QUrl& url)
{
    return url.scheme() == QLatin1String("https") ? 443 : 80;
}

QUrl originOf(const QUrl& url)
{
    QUrl origin;
    origin.setScheme(url.scheme().toLower());
    origin.setHost(url.host().toLower());
    origin.setPort(url.port(defaultPort(url)));
    return origin;
}

// A header's value on one line, whatever the settings hold.
QByteArray oneLine(QByteArray value)
{
    return value.replace('\r', ' ').replace('\n', ' ');
}

QByteArray headerValue(const QByteArray& head, const QByteArray& name)
{
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}
} // namespace

PushExchange::PushExchange(const Settings::Push& settings, const PushMessage& message,
    std::chrono::milliseconds deadline, QObject* parent)
    : QObject(parent)
    , m_token(settings.token)
    , m_deadlineLength(deadline)
{
    PushRequest::Built built = PushRequest::build(settings, message);
    m_request = built.request;
    m_body = built.body;
    m_origin = originOf(m_request.url());
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer); // a coarse one may end the try 5% early
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        end(QStringLiteral("no answer within %1 s").arg(double(m_deadlineLength.count()) / 1000), true);
    });
    m_deadline.start(deadline);
    // From the event loop: a refusal on loopback may come at once, before anyone listens to finished.
    QMetaObject::invokeMethod(
        this, [this] { connectTo(m_request.url()); }, Qt::QueuedConnection);
}

PushExchange::~PushExchange()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void PushExchange::connectTo(const QUrl& url)
{
    if (m_socket) { // a redirect, from the old socket's own signal: it goes once that has returned
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.release()->deleteLater();
    }
    m_url = url;
    m_answer.clear();
    m_socket = std::make_unique<QSslSocket>();
    // Qt stops reading from the server once this much waits: the head never needs more.
    m_socket->setReadBufferSize(MaxAnswer);
    connect(m_socket.get(), &QAbstractSocket::errorOccurred, this,
        [this] { end(m_socket->errorString(), true); });
    connect(m_socket.get(), &QIODevice::readyRead, this, &PushExchange::readAnswer);
    const quint16 port = quint16(url.port(defaultPort(url)));
    if (url.scheme() == QLatin1String("https")) {
        connect(m_socket.get(), &QSslSocket::encrypted, this, &PushExchange::sendRequest);
        m_socket->connectToHostEncrypted(url.host(), port);
    } else {
        connect(m_socket.get(), &QAbstractSocket::connected, this, &PushExchange::sendRequest);
        m_socket->connectToHost(url.host(), port);
    }
}

void PushExchange::sendRequest()
{
    QByteArray target = m_url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    QByteArray host = m_url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (m_url.port() >= 0 && m_url.port() != defaultPort(m_url))
        host += ':' + QByteArray::number(m_url.port());
    QByteArray head = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const QByteArray& name : m_request.rawHeaderList())
        head += name + ": " + oneLine(m_request.rawHeader(name)) + "\r\n";
    if (!m_url.userName().isEmpty() && !m_request.hasRawHeader("Authorization")) {
        const QString credentials = m_url.userName() + QLatin1Char(':') + m_url.password();
        head += "Authorization: Basic " + credentials.toUtf8().toBase64() + "\r\n";
    }
    head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n";
    m_socket->write(head + m_body);
}

void PushExchange::readAnswer()
{
    if (m_done)
        return;
    m_answer += m_socket->read(MaxAnswer - m_answer.size());
    for (qsizetype blank; (blank = m_answer.indexOf("\r\n\r\n")) >= 0;) {
        const QByteArray head = m_answer.left(blank);
        m_answer.remove(0, blank + 4);
        // An interim answer (100 Continue) comes before the real one.
        if (head.startsWith("HTTP/1.") && head.mid(9, 1) == "1")
            continue;
        answered(head);
        return;
    }
    if (m_answer.size() >= MaxAnswer)
        end(QStringLiteral("the server's answer is too long"), false);
}

void PushExchange::answered(const QByteArray& head)
{
    const QByteArray statusLine = head.left(head.indexOf('\r'));
    const int status = statusLine.startsWith("HTTP/1.") ? statusLine.mid(9, 3).toInt() : 0;
    if (status < 100 || status > 599) {
        end(QStringLiteral("the server's answer is not HTTP"), false);
        return;
    }
    if (status >= 200 && status < 300) {
        end({}, false);
        return;
    }
    const QByteArray location = headerValue(head, "Location");
    if (status >= 300 && status < 400 && !location.isEmpty()) {
        const QUrl target = m_url.resolved(QUrl::fromEncoded(location));
        if (originOf(target) != m_origin) {
            end(QStringLiteral(
                    "the server redirects to %1, another server; not followed, as the push and its "
                    "token go only to the address set")
                    .arg(originOf(target).toString()),
                false);
        } else if (++m_redirects > MaxRedirects) {
            end(QStringLiteral("more than %1 redirects").arg(MaxRedirects), false);
        } else {
            connectTo(target);
        }
        return;
    }
    end(QStringLiteral("server replied %1 %2")
            .arg(status)
            .arg(QString::fromUtf8(statusLine.mid(13)).trimmed()),
        status >= 500);
}

void PushExchange::end(const QString& failure, bool retryable)
{
    if (m_done)
        return;
    m_done = true;
    m_deadline.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    m_failure = failure;
    if (!m_token.isEmpty())
        m_failure.replace(m_token, QStringLiteral("(token)"));
    m_failure = m_failure.trimmed();
    m_retryable = retryable;
    emit finished();
}
