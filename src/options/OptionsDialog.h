#pragma once

#include "OptionsCommands.h"
#include "OptionsRouting.h"

#include <QDialog>

#include <vector>

class OptionsCycle;
class OptionsModel;
class OptionsPage;
class PageLabelRow;
class QLabel;
class QPushButton;
class QStackedLayout;

// The options dialog: page labels across the top, the pages stacked under them, OK and Cancel.
// A view over the working copy (the controls) and the options cycle (pages, OK, closing); every
// way of closing it other than OK runs the cycle's Close steps.
//
// It is a window of its own: parented to the monitor window it would be disabled with it. It is
// kept above the monitor window as its transient, which window managers stack above it without
// lifting it over other programs' windows.
class OptionsDialog : public QDialog, public OptionsDialogShower, public OptionsPrompts
{
    Q_OBJECT

public:
    static int pageCount();

    OptionsDialog(OptionsModel& options, OptionsCycle& cycle, OptionsCommands& commands,
        QWidget* transientFor = nullptr);

    QLabel* pageLabel(int page) const { return m_labels.at(std::size_t(page)); }
    PageLabelRow* pageLabelRow() const { return m_labelRow; }
    OptionsPage* page(int page) const { return m_pages.at(std::size_t(page)); }
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // OptionsDialogShower
    void showOptionsDialog() override;

    // OptionsPrompts
    QString chooseFile() override;
    QString askPort() override;

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showPages();
    void showHighlight();

    OptionsCycle& m_cycle;
    QWidget* m_transientFor;
    PageLabelRow* m_labelRow = nullptr;
    std::vector<QLabel*> m_labels;
    std::vector<OptionsPage*> m_pages;
    QStackedLayout* m_pageArea = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
