#pragma once

#include "OptionsCommands.h"

#include <QDialog>

#include <vector>

class OptionsModel;
class OptionsPage;
class PageLabelRow;
class QLabel;
class QPushButton;
class QStackedLayout;

// The options dialog: page labels across the top, the pages stacked under them, OK and Cancel.
// A view over the working copy: closing it is left to whoever opened it (closeRequested), since
// more than the dialog comes back then. After a rebuild the first page is on top; a click on a page
// label brings its page up (Alt+1 to Alt+8 too), and the label the pointer last moved over is bold
// and underlined.
//
// It is a window of its own: parented to the monitor window it would be disabled with it. It is
// kept above the monitor window as its transient, which window managers stack above it without
// lifting it over other programs' windows.
class OptionsDialog : public QDialog, public OptionsPrompts
{
    Q_OBJECT

public:
    static int pageCount();

    OptionsDialog(OptionsModel& options, OptionsCommands& commands,
        QWidget* transientFor = nullptr);

    QLabel* pageLabel(int page) const { return m_labels.at(std::size_t(page)); }
    PageLabelRow* pageLabelRow() const { return m_labelRow; }
    OptionsPage* page(int page) const { return m_pages.at(std::size_t(page)); }
    QPushButton* okButton() const { return m_okButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // Shows it without modality, above the monitor window, OK focused.
    void showOptionsDialog();
    // As if rebuilt: the first page on top, no label highlighted.
    void resetPages();

    // OptionsPrompts
    QString chooseFile() override;
    QString askPort() override;

signals:
    // OK (save) or any other way of closing: Cancel, Escape, the title bar's close.
    void closeRequested(bool save);

public slots:
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static constexpr int NoLabel = -1;

    // The page the user sees and the keyboard reaches; the frames under it are hidden, so that no
    // key reaches a control nobody can see.
    void selectPage(int page);
    // OK stores nothing while a field holds what the program would not use: each says why, and the
    // first comes forward with the focus. Whether it refused.
    bool refuseFields();
    // The next page (+1) or the previous one (-1), round the ends, as Ctrl+Tab and Ctrl+Shift+Tab do.
    void stepPage(int step);
    // The label the pointer last moved over, until it moves over the dialog's own background or a
    // page frame's surface (NoLabel).
    void highlightLabel(int label);

    QWidget* m_transientFor;
    PageLabelRow* m_labelRow = nullptr;
    std::vector<QLabel*> m_labels;
    std::vector<OptionsPage*> m_pages;
    QStackedLayout* m_pageArea = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    int m_highlighted = NoLabel;
};
