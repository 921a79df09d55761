#include "ElidedLabel.h"

void ElidedLabel::setFullText(const QString& text)
{
    m_fullText = text;
    setToolTip(text);
    fit();
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    fit();
}

void ElidedLabel::fit()
{
    const int width = contentsRect().width() - 2 * margin();
    setText(fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, width));
}
