#pragma once

#include <QLocalServer>
#include <QObject>

// One running program per user session. The first start listens on a local socket in the
// runtime folder; a later start finds it, asks the first to show its window, and steps aside.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // socketPath: empty for the default in the user's runtime folder.
    explicit SingleInstance(const QString& socketPath = {}, QObject* parent = nullptr);

    // True when this is the first instance (it now listens). False when another instance
    // answered and was asked to come forward.
    bool claim();

    static QString defaultSocketPath();

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    bool askRunningInstance();

    QString m_socketPath;
    QLocalServer m_server;
};
