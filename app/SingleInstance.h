#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/types.h>

// One running program per user. The first start listens on a local socket in a folder private to
// the user; a later start finds it, makes sure the listener is the same user's, asks it to show
// its window, and steps aside. A socket in a shared folder, such as the temporary folder, would let
// another user answer in its place and keep the alarm from starting.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        First, // this start now listens
        Deferred, // a start of the same user answered and was asked to come forward
        Alone, // no check was possible; this start runs without one
    };

    // socketPath: empty for the default, looked up when claiming.
    explicit SingleInstance(const QString& socketPath = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // activationToken: the one this start was given to bring a window forward on Wayland
    // (XDG_ACTIVATION_TOKEN), handed to the running start; empty: none.
    [[nodiscard]] Claim claim(const QByteArray& activationToken = {});
    // Whether a start of this user is running, asked without disturbing it: nothing is requested
    // of it, and this start does not listen.
    [[nodiscard]] bool isAnotherRunning();
    // The line to print for the last claim that was not First.
    QString message() const { return m_message; }

    // The socket in the first folder private to this user: the session's runtime folder,
    // /run/user/<uid>, else the program's own folder in the user's cache folder, made now.
    // Empty when there is none.
    static QString defaultSocketPath();

signals:
    // A later start asked for the window, with its activation token (empty: it had none).
    void activationRequested(const QString& activationToken);

private:
    enum class Answer { Nobody, Stale, Running, OtherUser, Silent };

    // request: what to send once the listener is known to be this user's; empty: nothing.
    Answer askRunningInstance(const QByteArray& request);
    bool listen();
    void acceptPending();
    void serve(int fd);
    Claim alone(const QString& reason);

    QString m_socketPath;
    QString m_message;
    int m_listenFd = -1;
    // The socket file this instance made, so that it removes that one and no other.
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    QSocketNotifier m_incoming { QSocketNotifier::Read };
    QTimer m_acceptRetry;
    int m_clients = 0;
};
