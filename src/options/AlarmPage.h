#pragma once

#include "OptionsPage.h"

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;

// Page "Alarm": incidents and one alarm per scan, the allow list with Add and Remove, desktop
// notifications, and the machine-readable event outputs.
class AlarmPage : public OptionsPage
{
    Q_OBJECT

public:
    AlarmPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    // Where Add asks for the entry; a test answers without a modal box.
    void setAsk(std::function<QString()> ask) { m_ask = std::move(ask); }

    QWidget* refuseFields() override;

private:
    void addAllowEntry();
    // The stored values came back: no refusal or problem is pending.
    void reloaded();
    bool checkCollector(const QString& collector);

    std::function<QString()> m_ask;
    QListWidget* m_allowList = nullptr;
    QLabel* m_allowError = nullptr;
    QLineEdit* m_collectorEdit = nullptr;
    QLabel* m_collectorError = nullptr;
};
