#pragma once

#include <QObject>
#include <QUrl>

#include <functional>

class QWidget;

// Help > Contents and View > Log: the manual and the intrusion log, opened with the desktop's
// viewers. Only a manual that cannot be shown is reported, with the one message box the program
// has.
class HelpCommands : public QObject
{
    Q_OBJECT

public:
    static constexpr auto HelpFileName = "ReadMe.html";
    using OpenUrl = std::function<bool(const QUrl&)>;
    using ShowMessage = std::function<void()>;

    // appPath: the program folder, with its trailing separator, when the commands run.
    HelpCommands(std::function<QString()> appPath, QWidget* dialogParent, QObject* parent = nullptr);

    // Seams for tests: how a file is opened, and the failure message box.
    void setOpenUrl(OpenUrl openUrl) { m_openUrl = std::move(openUrl); }
    void setShowHelpFailure(ShowMessage show) { m_showHelpFailure = std::move(show); }

    void openContents();
    void openLog();

private:
    void showHelpFailure();

    std::function<QString()> m_appPath;
    QWidget* m_dialogParent;
    OpenUrl m_openUrl;
    ShowMessage m_showHelpFailure;
};
