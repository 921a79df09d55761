#pragma once

#include <QObject>

#include <csignal>
#include <initializer_list>
#include <vector>

class QSocketNotifier;

// Turns POSIX signals into a Qt signal on the event loop, so that they are handled between two
// events instead of interrupting one. Deliveries that arrive before the loop gets round to them
// coalesce, as the kernel coalesces pending signals anyway. One watcher per signal at a time: a
// second watcher for the same signal takes it over.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void raised(int signalNumber);

private:
    struct Watched
    {
        int number;
        struct sigaction previous;
    };

    void drain();

    std::vector<Watched> m_watched;
    int m_pair[2] = { -1, -1 };
    QSocketNotifier* m_notifier = nullptr;
};
