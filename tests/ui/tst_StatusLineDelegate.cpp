#include "StatusLineDelegate.h"

#include <QListView>
#include <QStringListModel>
#include <QtTest>

// The shaped-once rows must look exactly like the standard delegate's: the same pixels for short
// lines, lines cut off with an ellipsis, a selected row, a focused one and a disabled list, at
// the list's own font and at a larger one, and again on a repaint served from the cache.
class tst_StatusLineDelegate : public QObject
{
    Q_OBJECT

private slots:
    void drawsLikeTheStandardDelegate()
    {
        QStringListModel model({ "[ ORRA ] - Ready.",
            "[ ORRA ] - Intrusion detected from 192.168.100.200 on port 31337, a line far wider than the "
            "list",
            "", "[ ORRA ] - 10.0.0.1:22", "[ ORRA ] - Intrusion detected from 2001:db8::1 on port 8080" });
        const std::pair<qreal, bool> looks[] { { 0, true }, { 14, true },
            { 0, false } }; // point size, enabled
        for (const auto& [pointSize, enabled] : looks) {
            const auto grab = [&](QAbstractItemDelegate* delegate) {
                QListView list;
                list.setUniformItemSizes(true);
                list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                if (pointSize > 0) {
                    QFont font = list.font();
                    font.setPointSizeF(pointSize);
                    list.setFont(font);
                }
                if (delegate)
                    list.setItemDelegate(delegate);
                list.setModel(&model);
                list.setEnabled(enabled);
                list.resize(297, 160);
                list.setCurrentIndex(model.index(3));
                list.selectionModel()->select(model.index(1), QItemSelectionModel::Select);
                list.show();
                QImage first = list.grab().toImage();
                list.viewport()->repaint();
                return std::pair { first, list.grab().toImage() };
            };
            StatusLineDelegate delegate;
            QCOMPARE(grab(&delegate), grab(nullptr));
        }
    }
};

QTEST_MAIN(tst_StatusLineDelegate)
#include "tst_StatusLineDelegate.moc"
