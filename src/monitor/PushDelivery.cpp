#include "PushDelivery.h"

#include "StatusReporter.h"

#include <QSysInfo>

PushDelivery::PushDelivery(StatusReporter& status, PushTiming timing, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_timing(timing)
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PushDelivery::pump);
    m_finishLimit.setSingleShot(true);
    connect(&m_finishLimit, &QTimer::timeout, this, &PushDelivery::callFinished);
}

PushDelivery::~PushDelivery() = default;

void PushDelivery::configure(const Settings::Push& settings)
{
    if (settings == m_settings)
        return;
    m_settings = settings;
    m_exchange.reset();
    m_retry.stop();
    m_queue.clear();
    m_tries = 0;
    m_failureReported = false;
    if (m_finished)
        callFinished();
    const QUrl url(settings.url);
    m_usable = settings.isOn() && url.isValid()
        && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
    if (settings.isOn() && !m_usable) {
        m_status.addStatusLine(
            QStringLiteral("Push to %1: \"%2\" is not an http or https address, nothing is sent")
                .arg(serviceName(), url.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery)));
    }
}

void PushDelivery::send(PushMessage message)
{
    if (!m_usable)
        return;
    if (qsizetype(m_queue.size()) >= QueueLimit) {
        // The front one is on its way or between tries: the oldest of those still waiting goes.
        m_queue.erase(m_queue.begin() + (m_tries > 0 ? 1 : 0));
        ++m_droppedTotal;
        ++m_droppedUnreported;
    }
    m_queue.push_back(std::move(message));
    if (m_tries == 0)
        pump();
}

void PushDelivery::sendTest(const Settings::Push& settings, std::function<void(const QString& failure)> done)
{
    m_test = std::make_unique<PushExchange>(
        settings, PushRequest::testMessage(QSysInfo::machineHostName()), m_timing.deadline);
    connect(m_test.get(), &PushExchange::finished, this, [this, done = std::move(done)] {
        // Deleted once its signal has returned.
        PushExchange* test = m_test.release();
        test->deleteLater();
        done(test->failure());
    });
}

void PushDelivery::finishWithin(std::chrono::milliseconds limit, std::function<void()> done)
{
    m_finished = std::move(done);
    if (m_queue.empty()) {
        callFinished();
        return;
    }
    m_finishLimit.start(limit);
    if (m_retry.isActive()) {
        m_retry.stop();
        pump();
    }
}

void PushDelivery::callFinished()
{
    m_finishLimit.stop();
    if (const std::function<void()> done = std::exchange(m_finished, nullptr))
        done();
}

void PushDelivery::pump()
{
    if (m_queue.empty() || m_exchange)
        return;
    ++m_tries;
    m_exchange = std::make_unique<PushExchange>(m_settings, m_queue.front(), m_timing.deadline);
    connect(m_exchange.get(), &PushExchange::finished, this, &PushDelivery::finished);
}

void PushDelivery::finished()
{
    // Deleted once its signal has returned.
    PushExchange* exchange = m_exchange.release();
    exchange->deleteLater();
    const QString failure = exchange->failure();
    if (failure.isEmpty()) {
        ++m_delivered;
        m_failureReported = false;
        next();
        return;
    }
    if (!std::exchange(m_failureReported, true))
        m_status.addStatusLine(QStringLiteral("Push to %1 failed: %2").arg(serviceName(), failure));
    if (m_tries < m_timing.tries && exchange->isRetryable()) {
        // 2 s, 4 s, 8 s... from the first retry on, capped; at once when the program is leaving.
        const std::chrono::milliseconds delay = std::min<std::chrono::milliseconds>(
            m_timing.firstRetry * (1 << std::min(m_tries - 1, 20)), m_timing.maxRetry);
        m_retry.start(m_finished ? std::chrono::milliseconds(0) : delay);
        return;
    }
    next();
}

void PushDelivery::next()
{
    m_queue.pop_front();
    m_tries = 0;
    if (m_queue.empty() && m_droppedUnreported > 0) {
        m_status.addStatusLine(
            QStringLiteral("Push: %1 notifications dropped").arg(std::exchange(m_droppedUnreported, 0)));
    }
    if (m_queue.empty() && m_finished)
        callFinished();
    pump();
}
