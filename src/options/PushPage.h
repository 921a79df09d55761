#pragma once

#include "OptionsPage.h"
#include "Settings.h"

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// Page "Push": the service that reaches the user's phone, its URL and token, and "Send test",
// which sends one push with the values on the page (saved or not) through the program's push
// delivery and shows how it went.
class PushPage : public OptionsPage
{
    Q_OBJECT

public:
    PushPage(
        const QString& title, OptionsModel& options, OptionsCommands& commands, QWidget* parent = nullptr);

    // Sends one test push with the given settings, then calls done with why it failed (empty when
    // delivered); a test still under way is overtaken by the next, which never calls its done.
    using TestPush
        = std::function<void(const Settings::Push&, std::function<void(const QString& failure)> done)>;
    // None until set: "Send test" then only checks the values.
    void setTestPush(TestPush testPush) { m_testPush = std::move(testPush); }

    QPushButton* testButton() const { return m_testButton; }
    QLabel* testResult() const { return m_testResult; }

    QWidget* refuseFields() override;

private:
    void sendTest();
    // Says under the URL box why the address would not be used; whether it would not.
    bool checkUrl();

    TestPush m_testPush;
    QPushButton* m_testButton = nullptr;
    QLabel* m_testResult = nullptr;
    QLineEdit* m_urlBox = nullptr;
    QLabel* m_urlError = nullptr;
};
