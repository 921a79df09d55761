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
        // The loop thread's own CPU time during the latest firing's gap: close to the gap when the
        // loop was busy, far below it when the thread was waiting for a CPU or a blocking call.
        double worstGapCpuMs = 0;
    };

    explicit LatenessProbe(int intervalMs, QObject* parent = nullptr);

    // The figures since the last reset.
    Figures figures() const;
    void reset();

private:
    void tick();

    int m_intervalMs;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickNs = -1;
    qint64 m_lastCpuNs = 0;
    qint64 m_worstLatenessNs = -1;
    qint64 m_worstGapCpuNs = 0;
    std::vector<qint64> m_latenessNs;
};
