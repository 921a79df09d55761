#include "MainWindow.h"

#include "CoalescedText.h"
#include "ElidedLabel.h"
#include "MenuActions.h"
#include "StatusDisplay.h"
#include "StatusLineDelegate.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace {
// The window was laid out in twips; at 96 dots per inch a pixel is 15 twips.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

// Outer heights of the two views: title bar, menu bar and frame included.
constexpr int ExpandedOuterHeight = px(4575);
constexpr int CollapsedOuterHeight = px(1435);
constexpr int ExpandedStatusBarTop = px(3600);
constexpr int CollapsedStatusBarTop = px(505);
constexpr int ClientWidth = px(4455);
constexpr int ClientHeight = px(3885);
// The status label's designed height; the client area always ends below it, even under a tall title
// bar in the collapsed view.
constexpr int StatusLabelHeight = px(255);
} // namespace

MainWindow::MainWindow(StatusDisplay& status, MenuActions& actions, QWidget* parent)
    : QMainWindow(parent)
    , m_status(status)
{
    setWindowTitle(QStringLiteral("Sentrel 2.0"));
    setWindowIcon(QIcon(QStringLiteral(":/sentrel.png")));
    auto* central = new QWidget(this);
    central->setMinimumWidth(ClientWidth);
    central->setFixedHeight(ClientHeight);
    central->resize(ClientWidth, ClientHeight);
    central->installEventFilter(this);
    setCentralWidget(central);

    buildButtons(central);

    m_list = new QListView(central);
    m_list->setGeometry(0, px(600), ClientWidth, px(2985));
    m_list->setUniformItemSizes(true);
    // A list box scrolls only up and down; a horizontal bar would also steal a row.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // After every batch of new lines the view lays out all its rows again; in batches it does so
    // a few thousand rows per event-loop pass, so a full list never stalls the window.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(4096);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setItemDelegate(new StatusLineDelegate(m_list));
    // An IPv6 address is cut in its middle, and the line's tooltip gives it whole.
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setModel(&m_status.model());
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    connect(m_list->verticalScrollBar(), &QScrollBar::actionTriggered, this, &MainWindow::reportListUse);
    m_status.setView(this);
    m_status.watchList(m_list);

    buildStatusBar(central);
    buildMenus(actions);

    for (QWidget* watched : std::initializer_list<QWidget*> { central, m_band, m_flatButtons[0],
             m_flatButtons[1], m_flatButtons[2], m_statusBar, m_statusLabel })
        m_pointerWatch.watch(watched);
    m_pointerWatch.exclude(m_list);
    connect(&m_pointerWatch, &PointerWatch::moved, this, &MainWindow::pointerMoved);

    m_minimizedWatch.setInterval(999);
    connect(&m_minimizedWatch, &QTimer::timeout, this, &MainWindow::hideMinimizedMonitor);

    applyViewHeight();
    resize(ClientWidth, sizeHint().height());
    fitClientArea();
}

void MainWindow::buildButtons(QWidget* central)
{
    m_band = new QFrame(central);
    m_band->setGeometry(px(-240), px(-90), px(4935), px(570));
    m_band->setFrameShape(QFrame::StyledPanel);
    // The buttons were sized for an 8-point dialog font; larger desktop fonts would clip captions.
    QFont font = m_band->font();
    font.setPointSizeF(8.25);
    m_band->setFont(font);

    const std::array<QString, 3> captions { QStringLiteral("Start"), monitorCaption(m_view),
        QStringLiteral("Options") };
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(captions[std::size_t(i)], m_band);
        button->setGeometry(px(720 + 1200 * i), px(145), px(1215), px(375));
        button->setFlat(true);
        button->setAutoFillBackground(true);
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: white; border: 1px solid #808080; padding: 0px; }"));
        connect(button, &QPushButton::clicked, this, [this, i] {
            if (i == MonitorButton)
                toggleMonitorView();
            else
                emit flatButtonClicked(i);
        });
        m_flatButtons[std::size_t(i)] = button;
    }
}

void MainWindow::buildStatusBar(QWidget* central)
{
    m_statusBar = new QFrame(central);
    m_statusBar->setGeometry(0, ExpandedStatusBarTop, ClientWidth, px(375));
    m_statusBar->setFrameShape(QFrame::NoFrame);

    m_sunken = new QFrame(m_statusBar);
    m_sunken->setGeometry(0, 0, px(4440), px(240));
    m_sunken->setFrameShape(QFrame::Panel);
    m_sunken->setFrameShadow(QFrame::Sunken);

    m_statusLabel = new ElidedLabel(m_statusBar);
    m_statusLabel->setFullText(m_status.statusText());
    m_statusLabel->setGeometry(px(120), 0, px(3855), StatusLabelHeight);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    m_statusLabel->setFont(font);
    // The label follows the status text at most ten times a second (see CoalescedText).
    m_statusText = new CoalescedText(m_status.statusText(), StatusListModel::FlushInterval, this);
    connect(&m_status, &StatusDisplay::statusTextChanged, m_statusText, &CoalescedText::set);
    connect(m_statusText, &CoalescedText::changed, m_statusLabel, &ElidedLabel::setFullText);
}

void MainWindow::buildMenus(MenuActions& actions)
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(actions.clear);
    file->addSeparator();
    file->addAction(actions.exit);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->addAction(actions.monitor);
    view->addAction(actions.log);
    view->addAction(actions.history);
    view->addSeparator();
    view->addAction(actions.options);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(actions.contents);
    help->addAction(actions.testAlarm);
    help->addSeparator();
    help->addAction(actions.about);

    menuBar()->addAction(actions.minimize);

    m_monitorAction = actions.monitor;
    // The action only asks for the switch; the switch itself sets the check mark.
    connect(m_monitorAction, &QAction::triggered, this, [this] {
        m_monitorAction->setChecked(isMonitorViewOn());
        toggleMonitorView();
    });
    connect(actions.clear, &QAction::triggered, &m_status, &StatusDisplay::clearMessages);
    connect(actions.minimize, &QAction::triggered, this, &MainWindow::minimize);
}

QString MainWindow::monitorCaption(MonitorView view)
{
    return view == MonitorView::Expanded ? QStringLiteral("Monitor [ON]") : QStringLiteral("Monitor [OFF]");
}

void MainWindow::toggleMonitorView()
{
    const bool collapse = isMonitorViewOn();
    m_view = collapse ? MonitorView::Collapsed : MonitorView::Expanded;
    m_flatButtons[MonitorButton]->setText(monitorCaption(m_view));
    applyViewHeight();
    m_statusBar->move(0, collapse ? CollapsedStatusBarTop : ExpandedStatusBarTop);
    fitClientArea();
    m_list->setVisible(!collapse);
    m_monitorAction->setChecked(!collapse);
}

void MainWindow::applyViewHeight()
{
    const bool expanded = isMonitorViewOn();
    // Frame and title bar as the window manager drew them (none before it has decorated us).
    const int decoration = std::max(0, frameGeometry().height() - geometry().height());
    const int outer = expanded ? ExpandedOuterHeight : CollapsedOuterHeight;
    const int statusBarTop = expanded ? ExpandedStatusBarTop : CollapsedStatusBarTop;
    const int client = outer - decoration - menuBar()->sizeHint().height();
    centralWidget()->setFixedHeight(std::max(client, statusBarTop + statusLabelHeight()));
    // The window's height follows the client area's; its width is the user's, from the designed one up.
    layout()->invalidate();
    setFixedHeight(layout()->totalMinimumSize().height());
}

void MainWindow::fitClientArea()
{
    const QWidget* central = centralWidget();
    const int width = std::max(central->width(), ClientWidth);
    m_band->resize(width + px(480), m_band->height());
    m_list->resize(width, m_list->height());
    // The sunken bar reaches the bottom of the client area and no further: the label centres its
    // text in its own height, so a label taller than the part shown would lose the text's bottom.
    const int barHeight = std::max(statusLabelHeight(), central->height() - m_statusBar->y());
    m_statusBar->resize(width, barHeight);
    m_sunken->resize(width - px(15), barHeight);
    m_statusLabel->setGeometry(px(120), 0, width - px(600), barHeight);
}

int MainWindow::statusLabelHeight() const
{
    // A larger font than the designed one (a desktop's font scaling) needs more than the designed height.
    const int text
        = m_statusLabel->fontMetrics().height() + 2 * (m_statusLabel->margin() + m_sunken->frameWidth());
    return std::max(StatusLabelHeight, text);
}

void MainWindow::reportListUse()
{
    if (std::exchange(m_listUseQueued, true))
        return;
    // Queued: a key or the wheel moves the view only after the event has reached the list.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_listUseQueued = false;
            const QScrollBar* bar = m_list->verticalScrollBar();
            m_status.userUsedList(
                bar->value() >= bar->maximum(), std::max(0, m_list->indexAt(QPoint(2, 2)).row()));
        },
        Qt::QueuedConnection);
}

void MainWindow::setAlwaysOnTop()
{
    setStaysOnTop(true);
}

void MainWindow::clearAlwaysOnTop()
{
    setStaysOnTop(false);
}

void MainWindow::setStaysOnTop(bool onTop)
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // Changing a window flag re-creates a shown window hidden; bring it back where and as it was.
    const bool wasVisible = isVisible();
    const Qt::WindowStates state = windowState();
    const QPoint position = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    move(position);
    setWindowState(state);
    if (wasVisible)
        show();
}

void MainWindow::showAsStartedUp()
{
    if (!(windowState() & Qt::WindowMinimized)) {
        show();
        return;
    }
    if (!m_minimizedReachable && !(m_tray && m_tray->isShown())) {
        // Minimized here, the window would be out of the user's reach for good.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        m_status.addStatusLine(QStringLiteral("Not minimized: no tray icon shown"));
        return;
    }
    // Some window managers map a window that asks to start iconic as a normal one: show it, and
    // minimize it once it is on screen (or after two seconds without a sign of that).
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    auto* poll = new QTimer(this);
    poll->setInterval(50);
    connect(poll, &QTimer::timeout, this, [this, poll, ticks = 0]() mutable {
        if ((windowHandle() && windowHandle()->isExposed()) || ++ticks > 40) {
            poll->deleteLater();
            minimize();
        }
    });
    poll->start();
}

void MainWindow::minimize()
{
    setWindowState(windowState() | Qt::WindowMinimized);
}

void MainWindow::measureStatusList()
{
    m_status.measureStatusList();
}

void MainWindow::setAutoScrollEnabled(bool enabled)
{
    m_status.setAutoScrollEnabled(enabled);
}

void MainWindow::startMinimizedWatch()
{
    m_minimizedWatch.start();
}

void MainWindow::hideMinimizedMonitor()
{
    if (!(windowState() & Qt::WindowMinimized))
        return;
    // Only hide into a tray icon that is really shown: without one the window could not be
    // brought back.
    if (m_tray && m_tray->isShown())
        hide();
    else if (!isVisible())
        showMinimized();
}

void MainWindow::restoreMonitor()
{
    setVisible(true);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void MainWindow::comeForward(Forward way, const QString& activationToken)
{
    if (way == Forward::Remap && isVisible())
        hide();
    // Qt's Wayland platform hands the token to the compositor when the window asks for the focus.
    if (way == Forward::Activate && !activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toLatin1());
    restoreMonitor();
    // The programs this one starts later must not come with a token that was not theirs.
    qunsetenv("XDG_ACTIVATION_TOKEN");
}

void MainWindow::setMonitorEnabled(bool enabled)
{
    setEnabled(enabled);
}

int MainWindow::clientHeight() const
{
    // From the list's own geometry, which is right before the window is first shown and while the
    // list is hidden in the collapsed view.
    return m_list->contentsRect().height();
}

int MainWindow::rowHeight() const
{
    const int height = m_list->sizeHintForRow(0);
    if (height > 0)
        return height;
    // An empty list has no row to ask: measure a sample line as the list would draw it.
    QStyleOptionViewItem option;
    option.initFrom(m_list);
    option.font = m_list->font();
    option.text = QStringLiteral("[ ORRA ] - Ready.");
    option.features = QStyleOptionViewItem::HasDisplay;
    return m_list->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), m_list).height();
}

void MainWindow::setTopRow(int row)
{
    const QModelIndex index = m_status.model().index(row);
    if (index.isValid())
        m_list->scrollTo(index, QAbstractItemView::PositionAtTop);
}

bool MainWindow::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move: // the window manager has framed us
        applyViewHeight();
        // The list has its real size now; a new screen scale may have changed the rows.
        m_status.measureStatusList();
        break;
    default:
        break;
    }
    return QMainWindow::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        m_status.measureStatusList();
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        fitClientArea();
    const bool onList = m_list && (watched == m_list || watched == m_list->viewport());
    if (onList
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::Wheel
            || event->type() == QEvent::MouseButtonPress))
        reportListUse();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window is the same exit as File > Exit.
    event->ignore();
    emit exitRequested();
}
