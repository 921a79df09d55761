#include "IntruderLineMenu.h"

#include "IntruderBlocker.h"

#include <QListView>
#include <QMenu>

namespace {
// Lines from the block's first line to its "IP: " line, and from there to its last.
constexpr int BlockReach = 5;

QString lineAt(const QAbstractItemModel& model, int row)
{
    QString text = model.data(model.index(row, 0)).toString();
    const qsizetype dash = text.indexOf(QLatin1String("] - "));
    return dash >= 0 ? text.mid(dash + 4) : text;
}

IpAddress addressIn(const QString& line)
{
    for (const QLatin1String start : { QLatin1String("IP: "), QLatin1String("Blocked "), QLatin1String("Unblocked "),
             QLatin1String("Not blocking ") }) {
        if (line.startsWith(start)) {
            QString word = line.mid(start.size()).section(QLatin1Char(' '), 0, 0);
            if (word.endsWith(QLatin1Char(':')))
                word.chop(1);
            return IpAddress::parse(word).value_or(IpAddress());
        }
    }
    return {};
}
} // namespace

IntruderLineMenu::IntruderLineMenu(QListView& list, IntruderBlocker& blocker)
    : m_list(list)
    , m_blocker(blocker)
{
    m_list.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&m_list, &QListView::customContextMenuRequested, this, &IntruderLineMenu::open);
}

IpAddress IntruderLineMenu::addressAt(const QAbstractItemModel& model, int row)
{
    if (row < 0 || row >= model.rowCount())
        return {};
    if (const IpAddress own = addressIn(lineAt(model, row)); !own.isNull())
        return own;
    // Up to the block's "Intruder Detected", then down to its address.
    int first = row;
    while (first > 0 && row - first < BlockReach && lineAt(model, first) != QLatin1String("Intruder Detected")) {
        if (lineAt(model, first) == QLatin1String("End Of Attack") && first != row)
            return {};
        --first;
    }
    if (lineAt(model, first) != QLatin1String("Intruder Detected"))
        return {};
    for (int r = first + 1; r < model.rowCount() && r <= first + BlockReach; ++r) {
        const QString line = lineAt(model, r);
        if (line.startsWith(QLatin1String("IP: ")))
            return addressIn(line);
    }
    return {};
}

void IntruderLineMenu::open(const QPoint& at)
{
    const QModelIndex index = m_list.indexAt(at);
    const IpAddress address = index.isValid() ? addressAt(*m_list.model(), index.row()) : IpAddress();
    if (address.isNull())
        return;
    QMenu menu(&m_list);
    QAction* block = menu.addAction(QStringLiteral("Block for 1 hour"));
    QAction* unblock = menu.addAction(QStringLiteral("Unblock"));
    // Offered only where a block could be had: the notifications follow the same rules.
    const bool blocked = m_blocker.isBlocked(address);
    block->setEnabled(!blocked && m_blocker.canBlock(address));
    unblock->setEnabled(blocked);
    const QAction* chosen = menu.exec(m_list.viewport()->mapToGlobal(at));
    if (chosen == block)
        (void)m_blocker.block(address, BlockSeconds);
    else if (chosen == unblock)
        (void)m_blocker.unblock(address);
}
