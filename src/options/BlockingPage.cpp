#include "BlockingPage.h"

#include "AlarmOptions.h"
#include "IntruderBlocker.h"
#include "OptionBindings.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

namespace {
QString timeLeft(int seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min left").arg(seconds / 3600).arg(seconds % 3600 / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min left").arg((seconds + 59) / 60);
    return QStringLiteral("%1 s left").arg(seconds);
}
} // namespace

BlockingPage::BlockingPage(const QString& title, OptionsModel& options, OptionsCommands& commands,
    AlarmOptions& alarm, QWidget* parent)
    : OptionsPage(title, options, commands, parent)
{
    auto* automaticGroup = new QGroupBox(QStringLiteral("Automatic Blocking"), this);
    auto* blockBox = new QCheckBox(QStringLiteral("&Block intruders at the firewall"), automaticGroup);
    blockBox->setToolTip(QStringLiteral("Never for an address that may be forged, the allow list, this machine "
                                        "or its gateway"));
    auto* minutesBox = new QSpinBox(automaticGroup);
    minutesBox->setObjectName(QStringLiteral("blockMinutesBox"));
    minutesBox->setRange(1, 24 * 60);
    minutesBox->setSuffix(QStringLiteral(" min"));
    auto* automatic = new QGridLayout(automaticGroup);
    automatic->addWidget(blockBox, 0, 0);
    automatic->addWidget(new QLabel(QStringLiteral("For:"), automaticGroup), 0, 1, Qt::AlignRight);
    automatic->addWidget(minutesBox, 0, 2);

    auto* blockedGroup = new QGroupBox(QStringLiteral("Blocked Now"), this);
    m_blockedList = new QListWidget(blockedGroup);
    m_blockedList->setObjectName(QStringLiteral("blockedList"));
    m_blockedList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_unblockButton = new QPushButton(QStringLiteral("&Unblock"), blockedGroup);
    connect(m_unblockButton, &QPushButton::clicked, this, [this] {
        if (!m_blocker)
            return;
        for (const QListWidgetItem* item : m_blockedList->selectedItems())
            (void)m_blocker->unblock(IpAddress::parse(item->data(Qt::UserRole).toString()).value_or(IpAddress()));
    });
    auto* blocked = new QGridLayout(blockedGroup);
    blocked->addWidget(m_blockedList, 0, 0, 2, 1);
    blocked->addWidget(m_unblockButton, 0, 1);

    body()->addWidget(automaticGroup);
    body()->addWidget(blockedGroup, 1);

    using OptionBindings::bindValue;
    AlarmOptions& o = alarm;
    bindValue(o, blockBox, [&o]() -> bool& { return o.alarm().blockIntruders; });
    bindValue(o, minutesBox, [&o]() -> int& { return o.alarm().blockMinutes; });
    m_tick.setInterval(5000);
    connect(&m_tick, &QTimer::timeout, this, &BlockingPage::showBlocked);
    showBlocked();
}

void BlockingPage::setBlocker(IntruderBlocker* blocker)
{
    if (m_blocker)
        disconnect(m_blocker, nullptr, this, nullptr);
    m_blocker = blocker;
    if (m_blocker)
        connect(m_blocker, &IntruderBlocker::changed, this, &BlockingPage::showBlocked);
    showBlocked();
}

void BlockingPage::showEvent(QShowEvent* event)
{
    OptionsPage::showEvent(event);
    // What the firewall holds may have changed without us (entries from an earlier run).
    if (m_blocker)
        m_blocker->refresh();
    showBlocked();
    m_tick.start();
}

void BlockingPage::hideEvent(QHideEvent* event)
{
    m_tick.stop();
    OptionsPage::hideEvent(event);
}

void BlockingPage::showBlocked()
{
    QStringList selected;
    for (const QListWidgetItem* item : m_blockedList->selectedItems())
        selected << item->data(Qt::UserRole).toString();
    m_blockedList->clear();
    if (m_blocker) {
        for (const IntruderBlocker::Entry& entry : m_blocker->entries()) {
            const QString address = entry.address.toString();
            QString text = address + QLatin1String("    ") + timeLeft(IntruderBlocker::secondsLeft(entry));
            if (entry.attempts > 0)
                text += QStringLiteral(", %1 attempts stopped").arg(entry.attempts);
            auto* item = new QListWidgetItem(text, m_blockedList);
            item->setData(Qt::UserRole, address);
            item->setSelected(selected.contains(address));
        }
    }
    m_unblockButton->setEnabled(m_blocker && m_blockedList->count() > 0);
}
