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
    std::vector<qint64> m_latenessNs;
};
