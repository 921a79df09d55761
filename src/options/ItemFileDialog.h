#pragma once

#include <QFileDialog>

// Asks for one file or folder: a double click opens a folder, the Open button takes whatever
// item is selected, file or folder alike.
class ItemFileDialog : public QFileDialog
{
    Q_OBJECT

public:
    ItemFileDialog(QWidget* parent, const QString& caption);

    // The confirmed item's full path; empty when cancelled.
    static QString choose(QWidget* parent, const QString& caption);

public slots:
    void accept() override;
};
