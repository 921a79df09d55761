#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <vector>

// A timer that records how late it fires. Living on the window's event loop, its lateness is how
// long that loop was kept from handling anything else: what a user sees as a frozen window.
class LatenessProbe : public QObject
{
    Q_OBJECT

public:
    struct Figures
    {
        long samples = 0;
        double maxMs = 0;
        double p99Ms = 0;
        // Where the worst gap went: the loop thread running (the loop was busy), waiting for a CPU
        // (other processes had the machine), the rest blocked in a system call.
        double worstGapCpuMs = 0;
        double worstGapRunQueueMs = 0;
    };

    explicit LatenessProbe(int intervalMs, QObject* parent = nullptr);
    ~LatenessProbe() override;

    // The figures since the last reset.
    Figures figures() const;
    void reset();
    // Stops the timer, so that an idle program is measured without the probe's own wake-ups.
    void pause();

private:
    struct ThreadTimes
    {
        qint64 cpuNs = 0;
        qint64 runQueueNs = 0;
    };

    void tick();
    ThreadTimes threadTimes() const;

    int m_intervalMs;
    int m_schedstat = -1;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickNs = -1;
    ThreadTimes m_lastTimes;
    qint64 m_worstLatenessNs = -1;
    ThreadTimes m_worstGap;
    std::vector<qint64> m_latenessNs;
};
