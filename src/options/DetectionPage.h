#pragma once

#include "OptionsPage.h"

#include <functional>

class AlarmOptions;
class QListWidget;

// Page "Detection": the probes that never complete a connection, the port scan threshold, and the
// UDP tripwires' port list with Add and Remove. Its values live in AlarmOptions, pending until OK.
class DetectionPage : public OptionsPage
{
    Q_OBJECT

public:
    DetectionPage(const QString& title, OptionsModel& options, OptionsCommands& commands, AlarmOptions& alarm,
        QWidget* parent = nullptr);

    // Where Add asks for the port; a test answers without a modal box.
    void setAsk(std::function<QString()> ask) { m_ask = std::move(ask); }

private:
    AlarmOptions& m_alarm;
    std::function<QString()> m_ask;
    QListWidget* m_udpList = nullptr;
};
