#pragma once

#include "FileViewer.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;
class StatusReporter;

// Help > Contents and View > Log (and the options' Read): the manual and the intrusion log, shown
// with the desktop's viewers. A missing manual gets the program's Help box; where the desktop has
// no viewer for the file, the status label says so and a box offers to show the file's folder.
class HelpCommands : public QObject
{
    Q_OBJECT

public:
    static constexpr auto HelpFileName = "ReadMe.html";
    using ShowMessage = std::function<void()>;

    // appPath: the program folder, with its trailing separator, when the commands run.
    HelpCommands(std::function<QString()> appPath, StatusReporter& status, QWidget* dialogParent,
        QObject* parent = nullptr);

    // Seam for tests: the failure message box.
    void setShowHelpFailure(ShowMessage show) { m_showHelpFailure = std::move(show); }

    void openContents();
    void openLog();
    // The box offering the folder while it is up.
    QMessageBox* folderOffer() const { return m_offer; }

private:
    void showHelpFailure();
    void open(const QString& path);
    void noViewer(const QString& path);

    std::function<QString()> m_appPath;
    StatusReporter& m_status;
    QWidget* m_dialogParent;
    ShowMessage m_showHelpFailure;
    FileViewer m_viewer;
    QPointer<QMessageBox> m_offer; // one at a time
};
