#include "ItemFileDialog.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QTreeView>

ItemFileDialog::ItemFileDialog(QWidget* parent, const QString& caption)
    : QFileDialog(parent, caption)
{
    // The portable dialog, so that accept() below is the one that runs.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    // The portable dialog's default size cuts the names, sizes and dates in its columns.
    setViewMode(QFileDialog::Detail);
    resize(760, 460);
    if (auto* view = findChild<QTreeView*>()) {
        QHeaderView* header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::ResizeToContents);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
    }
}

QString ItemFileDialog::choose(QWidget* parent, const QString& caption)
{
    ItemFileDialog dialog(parent, caption);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

void ItemFileDialog::accept()
{
    // The file dialog would step into a selected folder; here a folder is an answer too.
    const QStringList chosen = selectedFiles();
    if (chosen.size() == 1 && QFileInfo(chosen.constFirst()).isDir()) {
        done(QDialog::Accepted);
        return;
    }
    QFileDialog::accept();
}
