#pragma once

#include "OptionsPage.h"

#include <memory>

class QLabel;
class PushExchange;
class QPushButton;

// Page "Push": the service that reaches the user's phone, its URL and token, and "Send test",
// which sends one push with the values on the page (saved or not) and shows how it went.
class PushPage : public OptionsPage
{
    Q_OBJECT

public:
    PushPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);
    ~PushPage() override;

    QPushButton* testButton() const { return m_testButton; }
    QLabel* testResult() const { return m_testResult; }

private:
    void sendTest();

    std::unique_ptr<PushExchange> m_test;
    QPushButton* m_testButton = nullptr;
    QLabel* m_testResult = nullptr;
};
