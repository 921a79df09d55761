#pragma once

#include "OptionsPage.h"

#include <functional>

class QListWidget;

// Page "Detection": the probes that never complete a connection, the port scan threshold, and the
// UDP tripwires' port list with Add and Remove.
class DetectionPage : public OptionsPage
{
    Q_OBJECT

public:
    DetectionPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    // Where Add asks for the port; a test answers without a modal box.
    void setAsk(std::function<QString()> ask) { m_ask = std::move(ask); }

private:
    std::function<QString()> m_ask;
    QListWidget* m_udpList = nullptr;
};
