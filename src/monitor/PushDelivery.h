#pragma once

#include "PushExchange.h"
#include "Settings.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class StatusReporter;

// How long a push may take and how often it is tried.
struct PushTiming
{
    // Each try ends after this long, answered or not: a server that never answers, or trickles its
    // answer, holds the queue no longer.
    std::chrono::milliseconds deadline { 10000 };
    // The wait before the second try, doubling up to max.
    std::chrono::milliseconds firstRetry { 2000 };
    std::chrono::milliseconds maxRetry { 60000 };
    int tries = 5;
};

// Sends pushes to the configured service one at a time, without ever blocking the event loop. A
// push waits in a bounded queue; when it is full the oldest waiting one goes, counted, and once
// the queue has emptied one status line says how many went. No answer or a server error (5xx) is
// tried again after a doubling wait, a bounded number of times; any other refusal is final. A
// failing service gets one status line until a push gets through again.
class PushDelivery : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype QueueLimit = 32;

    explicit PushDelivery(StatusReporter& status, PushTiming timing = {}, QObject* parent = nullptr);
    ~PushDelivery() override;

    // Another service, address or token drops what waits for the old one.
    void configure(const Settings::Push& settings);
    const Settings::Push& settings() const { return m_settings; }
    // On, with an address it can send to.
    bool isUsable() const { return m_usable; }
    void send(PushMessage message);
    // One try of a test push with other settings (the options dialog's, saved or not), apart from
    // the queue; done gets why it failed, empty when delivered. A test still under way is dropped
    // for the next, without calling its done.
    void sendTest(const Settings::Push& settings, std::function<void(const QString& failure)> done);
    // At exit: done runs once every waiting push has gone out or failed for good, or after limit,
    // whichever comes first; a push waiting for its next try gets it at once.
    void finishWithin(std::chrono::milliseconds limit, std::function<void()> done);
    bool isFinishing() const { return bool(m_finished); }

    qsizetype queued() const { return qsizetype(m_queue.size()); }
    quint64 deliveredCount() const { return m_delivered; }
    quint64 droppedTotal() const { return m_droppedTotal; }

private:
    void pump();
    void finished();
    void next();
    void callFinished();
    // The service's name as the status lines give it.
    QString serviceName() const { return m_settings.serviceName(); }

    StatusReporter& m_status;
    PushTiming m_timing;
    Settings::Push m_settings;
    std::deque<PushMessage> m_queue; // the front one is being sent, or waits for its next try
    std::unique_ptr<PushExchange> m_exchange; // the front one's try under way
    std::unique_ptr<PushExchange> m_test;
    QTimer m_retry;
    QTimer m_finishLimit;
    std::function<void()> m_finished; // set while finishing
    int m_tries = 0; // of the front one
    bool m_usable = false; // on, with an http or https address
    bool m_failureReported = false;
    quint64 m_delivered = 0;
    quint64 m_droppedTotal = 0;
    quint64 m_droppedUnreported = 0;
};
