#pragma once

#include <QLabel>

// A one-line label that shortens a text too long for it in the middle, where an address is least
// needed, and shows the whole text as its tooltip.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    void setFullText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void fit();

    QString m_fullText;
};
