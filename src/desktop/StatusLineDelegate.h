#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

// Draws the status list's rows as the standard delegate does, but shapes each line's text once:
// a line never changes, while the list repaints its visible rows after every batch and every
// auto-scroll step.
class StatusLineDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Lines kept shaped; a few screens' worth, so auto-scroll finds its rows again.
    static constexpr qsizetype CacheSize = 512;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const QStaticText& shaped(const QString& text, const QStyleOptionViewItem& option, int width) const;

    mutable QHash<QString, QStaticText> m_cache;
    // What the cached texts were shaped for; any change starts the cache anew.
    mutable QFont m_font;
    mutable int m_width = -1;
    mutable Qt::TextElideMode m_elide = Qt::ElideRight;
};
