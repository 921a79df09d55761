#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>
#include <utility>

class QSocketNotifier;

// Standard output as an alarm can afford it. A reader that stops reading (a paused pager, a stalled
// journal, a script that no longer drains the pipe) must never stop the event loop: bytes the
// descriptor cannot take at once wait in a bounded buffer and go when it is writable again; lines
// beyond the bound are dropped and counted.
class NonBlockingOutput : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxPending = 1024 * 1024;

    // fd stays open and is not changed: pipes and terminals are opened again without blocking
    // (their open file description is shared with the shell), sockets are sent to without waiting.
    explicit NonBlockingOutput(int fd, QObject* parent = nullptr);
    ~NonBlockingOutput() override;

    // Takes whole lines, each ending with '\n'.
    void write(const QByteArray& lines);
    bool isIdle() const { return m_pending.isEmpty(); }
    // Lines dropped since the last call.
    quint64 takeLost() { return std::exchange(m_lost, 0); }
    // At exit: gives the reader up to timeout to take what waits.
    void drain(std::chrono::milliseconds timeout);

private:
    qsizetype send(const char* data, qsizetype size);
    void pump();

    int m_fd = -1;
    bool m_ownFd = false;
    bool m_socket = false;
    QByteArray m_pending;
    quint64 m_lost = 0;
    std::unique_ptr<QSocketNotifier> m_writable;
};
