#include "PushExchange.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {
QUrl originOf(const QUrl& url)
{
    QUrl origin;
    origin.setScheme(url.scheme().toLower());
    origin.setHost(url.host().toLower());
    origin.setPort(url.port(url.scheme() == QLatin1String("https") ? 443 : 80));
    return origin;
}
} // namespace

PushExchange::PushExchange(QNetworkAccessManager& network, const PushSettings& settings,
    const PushMessage& message, std::chrono::milliseconds deadline, QObject* parent)
    : QObject(parent)
    , m_token(settings.token)
    , m_deadlineLength(deadline)
{
    PushRequest::Built built = PushRequest::build(settings, message);
    m_origin = originOf(built.request.url());
    built.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    built.request.setMaximumRedirectsAllowed(MaxRedirects);
    QNetworkReply* reply = network.post(built.request, built.body);
    m_reply = reply;
    reply->setReadBufferSize(MaxReply);
    connect(reply, &QNetworkReply::metaDataChanged, this, &PushExchange::headersIn);
    connect(reply, &QNetworkReply::readyRead, this, &PushExchange::discardBody);
    connect(reply, &QNetworkReply::redirected, this, &PushExchange::redirected);
    connect(reply, &QNetworkReply::finished, this, &PushExchange::ended);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer); // a coarse one may end the try 5% early
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        m_reply->abort();
    });
    m_deadline.start(deadline);
}

PushExchange::~PushExchange()
{
    if (QNetworkReply* reply = m_reply.get()) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void PushExchange::headersIn()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status / 100 == 3)
        return; // redirected() decides
    // The status says all there is to know. A body of unknown length (chunked) or a long one is not
    // waited for: Qt would read it off the connection faster than it can be thrown away.
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() || length.toLongLong() > MaxReply)
        m_reply->abort();
}

void PushExchange::discardBody()
{
    m_bodyBytes += m_reply->skip(m_reply->bytesAvailable());
    if (m_bodyBytes > MaxReply)
        m_reply->abort();
}

void PushExchange::redirected(const QUrl& target)
{
    if (originOf(target) == m_origin) {
        emit m_reply->redirectAllowed();
        return;
    }
    m_refusedRedirect = originOf(target);
    m_reply->abort();
}

void PushExchange::ended()
{
    m_deadline.stop();
    QNetworkReply& reply = *m_reply;
    m_reply = nullptr;
    reply.deleteLater();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!m_refusedRedirect.isEmpty()) {
        m_failure = QStringLiteral("the server redirects to %1, another server; not followed, as the push and "
                                   "its token go only to the address set")
                        .arg(m_refusedRedirect.toString());
    } else if (status >= 200 && status < 300) {
        // The service took it, whether its answer's body came whole or was cut short: the body tells
        // nothing more.
        m_failure.clear();
    } else if (status > 0) {
        m_failure = QStringLiteral("server replied %1 %2")
                        .arg(status)
                        .arg(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
        m_retryable = status >= 500;
    } else if (m_timedOut) {
        m_failure = QStringLiteral("no answer within %1 s").arg(double(m_deadlineLength.count()) / 1000);
        m_retryable = true;
    } else {
        m_failure = reply.errorString();
        const QUrl url = reply.url();
        m_failure.replace(url.toString(), url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
        m_retryable = true;
    }
    if (!m_token.isEmpty())
        m_failure.replace(m_token, QStringLiteral("(token)"));
    m_failure = m_failure.trimmed();
    emit finished();
}
