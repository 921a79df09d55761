#include "HelpCommands.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>

HelpCommands::HelpCommands(std::function<QString()> appPath, QWidget* dialogParent, QObject* parent)
    : QObject(parent)
    , m_appPath(std::move(appPath))
    , m_dialogParent(dialogParent)
    , m_openUrl(&QDesktopServices::openUrl)
{
}

void HelpCommands::openContents()
{
    const QFileInfo manual(m_appPath() + QLatin1String(HelpFileName));
    if (!manual.isFile() || !m_openUrl(QUrl::fromLocalFile(manual.absoluteFilePath())))
        showHelpFailure();
}

void HelpCommands::openLog()
{
    m_openUrl(QUrl::fromLocalFile(m_appPath() + QStringLiteral("Log.txt"))); // failures ignored
}

void HelpCommands::showHelpFailure()
{
    if (m_showHelpFailure) {
        m_showHelpFailure();
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Help"),
        QStringLiteral("Please read the ReadMe.wri file for help and instructions"), QMessageBox::Ok,
        m_dialogParent);
    box.exec();
}
