#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGUSR1 into a signal on the event loop, so that a script can ask for figures between two
// loads without stopping the process.
class ReportRequest : public QObject
{
    Q_OBJECT

public:
    explicit ReportRequest(QObject* parent = nullptr);
    ~ReportRequest() override;

signals:
    void requested();

private:
    void drain();

    QSocketNotifier* m_notifier = nullptr;
};
