#include "StatusLineDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

void StatusLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
    const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QString text = opt.text;
    // Anything but one plain line (wrapping, an alignment other than left) is left to the style.
    const bool plain = !(opt.features & QStyleOptionViewItem::WrapText)
        && (opt.displayAlignment & Qt::AlignHorizontal_Mask) == Qt::AlignLeft
        && opt.direction == Qt::LeftToRight && !(opt.state & QStyle::State_Editing);
    if (text.isEmpty() || !plain) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }

    // The style measures the text's place with the text in the option, then draws the rest of
    // the item (background, selection, focus) without it.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = textRect.adjusted(margin, 0, -margin, 0);
    QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
        group = QPalette::Inactive;
    const QStaticText& line = shaped(text, opt, area.width());
    const qreal height = line.size().height();
    qreal top = area.top();
    if (opt.displayAlignment & Qt::AlignVCenter)
        top += (area.height() - height) / 2;
    else if (opt.displayAlignment & Qt::AlignBottom)
        top += area.height() - height;

    painter->save();
    painter->setClipRect(opt.rect);
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(group,
        opt.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawStaticText(QPointF(area.left(), top), line);
    painter->restore();
}

const QStaticText& StatusLineDelegate::shaped(const QString& text, const QStyleOptionViewItem& option,
    int width) const
{
    if (width != m_width || option.font != m_font || option.textElideMode != m_elide
        || m_cache.size() >= CacheSize) {
        m_cache.clear();
        m_width = width;
        m_font = option.font;
        m_elide = option.textElideMode;
    }
    auto it = m_cache.find(text);
    if (it == m_cache.end()) {
        const QFontMetrics metrics(option.font);
        QStaticText line(metrics.elidedText(text, option.textElideMode, width));
        line.setTextFormat(Qt::PlainText);
        line.setPerformanceHint(QStaticText::AggressiveCaching);
        line.prepare(QTransform(), option.font);
        it = m_cache.insert(text, line);
    }
    return *it;
}
