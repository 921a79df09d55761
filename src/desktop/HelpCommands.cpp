#include "HelpCommands.h"

#include "StatusReporter.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

HelpCommands::HelpCommands(
    std::function<QString()> appPath, StatusReporter& status, QWidget* dialogParent, QObject* parent)
    : QObject(parent)
    , m_appPath(std::move(appPath))
    , m_status(status)
    , m_dialogParent(dialogParent)
{
}

void HelpCommands::openContents()
{
    const QFileInfo manual(m_appPath() + QLatin1String(HelpFileName));
    if (manual.isFile())
        open(manual.absoluteFilePath());
    else
        showHelpFailure();
}

void HelpCommands::openLog()
{
    const QFileInfo log(m_appPath() + QStringLiteral("Log.txt"));
    if (log.isFile())
        open(log.absoluteFilePath());
    else
        m_status.setStatusText(QStringLiteral("No Log.txt yet in %1").arg(QDir::toNativeSeparators(log.absolutePath())));
}

void HelpCommands::open(const QString& path)
{
    m_viewer.open(path, [this, path] { noViewer(path); });
}

void HelpCommands::noViewer(const QString& path)
{
    const QFileInfo file(path);
    const QString folder = QDir::toNativeSeparators(file.absolutePath());
    // The folder goes in the box: the label would cut the name out of the middle of a long path.
    m_status.setStatusText(QStringLiteral("No viewer is set up for %1").arg(file.fileName()));
    if (m_offer) {
        m_offer->raise();
        return;
    }
    // Over the options dialog when Read was pressed there, so that the box can be answered.
    QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : m_dialogParent;
    m_offer = new QMessageBox(QMessageBox::Information, QStringLiteral("Sentrel"),
        QStringLiteral("No viewer is set up for %1.").arg(file.fileName()), QMessageBox::Close, parent);
    m_offer->setInformativeText(QStringLiteral("It is in %1.").arg(folder));
    m_offer->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* show = m_offer->addButton(QStringLiteral("Show &Folder"), QMessageBox::AcceptRole);
    m_offer->setDefaultButton(show);
    connect(show, &QPushButton::clicked, this, [this, folder] {
        m_viewer.open(folder, [this, folder] {
            m_status.setStatusText(QStringLiteral("No file manager is set up either; the folder is %1").arg(folder));
        });
    });
    m_offer->open();
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
