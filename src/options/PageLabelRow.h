#pragma once

#include <QWidget>

#include <vector>

class QLabel;

// The row of page labels across the top of the options dialog. The mouse picks a page by its
// label; the keyboard reaches the row with Tab and moves along it with the arrow keys, Home and
// End. A bar under the current page's label marks it, a focus frame round it while the row has the
// focus, and the row tells assistive technology which page is selected.
class PageLabelRow : public QWidget
{
    Q_OBJECT

public:
    explicit PageLabelRow(QWidget* parent = nullptr);

    QLabel* addLabel(const QString& text);
    QLabel* label(int index) const { return m_labels.at(std::size_t(index)); }
    int count() const { return int(m_labels.size()); }

    // The page shown; announced as the row's accessible name.
    void setCurrent(int index);
    int current() const { return m_current; }

signals:
    // The arrow keys, Home and End ask for this page.
    void pageRequested(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    static constexpr int SelectionBar = 3; // its height

    std::vector<QLabel*> m_labels;
    int m_current = 0;
};
