#include "MainWindow.h"

#include "StatusDisplay.h"

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

namespace {
// The window was laid out in twips; at 96 dots per inch a pixel is 15 twips.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

const auto MonitorOnCaption = QStringLiteral("Monitor [ON]");
const auto MonitorOffCaption = QStringLiteral("Monitor [OFF]");

// Client heights of the expanded and the collapsed view.
constexpr int ExpandedHeight = px(3885);
constexpr int CollapsedHeight = px(505 + 375);
constexpr int ExpandedStatusBarTop = px(3600);
constexpr int CollapsedStatusBarTop = px(505);
} // namespace

MainWindow::MainWindow(StatusDisplay& status, QWidget* parent)
    : QMainWindow(parent)
    , m_status(status)
{
    setWindowTitle(QStringLiteral("Sentrel 2.0"));
    setWindowIcon(QIcon(QStringLiteral(":/sentrel.png")));
    auto* central = new QWidget(this);
    central->setFixedSize(px(4455), ExpandedHeight);
    setCentralWidget(central);

    buildButtons(central);

    m_list = new QListView(central);
    m_list->setGeometry(0, px(600), px(4455), px(2985));
    m_list->setUniformItemSizes(true);
    // After every batch of new lines the view lays out all its rows again; in batches it does so
    // a few thousand rows per event-loop pass, so a full list never stalls the window.
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(4096);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setModel(&m_status.model());
    m_status.setView(this);
    m_status.watchList(m_list);

    buildStatusBar(central);
    buildMenus();

    m_minimizedWatch.setInterval(999);
    connect(&m_minimizedWatch, &QTimer::timeout, this, &MainWindow::hideMinimizedMonitor);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void MainWindow::buildButtons(QWidget* central)
{
    auto* band = new QFrame(central);
    band->setGeometry(px(-240), px(-90), px(4935), px(570));
    band->setFrameShape(QFrame::StyledPanel);
    // The buttons were sized for an 8-point dialog font; larger desktop fonts would clip captions.
    QFont font = band->font();
    font.setPointSizeF(8.25);
    band->setFont(font);

    const std::array<QString, 3> captions { QStringLiteral("Start"), MonitorOnCaption,
        QStringLiteral("Options") };
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(captions[std::size_t(i)], band);
        button->setGeometry(px(720 + 1200 * i), px(145), px(1215), px(375));
        button->setFlat(true);
        button->setAutoFillBackground(true);
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: white; border: 1px solid #808080; padding: 0px; }"));
        connect(button, &QPushButton::clicked, this, [this, i] { emit flatButtonClicked(i); });
        m_flatButtons[std::size_t(i)] = button;
    }
}

void MainWindow::buildStatusBar(QWidget* central)
{
    m_statusBar = new QFrame(central);
    m_statusBar->setGeometry(0, ExpandedStatusBarTop, px(4455), px(375));
    m_statusBar->setFrameShape(QFrame::NoFrame);

    auto* sunken = new QFrame(m_statusBar);
    sunken->setGeometry(0, 0, px(4440), px(240));
    sunken->setFrameShape(QFrame::Panel);
    sunken->setFrameShadow(QFrame::Sunken);

    m_statusLabel = new QLabel(m_status.statusText(), m_statusBar);
    m_statusLabel->setGeometry(px(120), 0, px(3855), px(255));
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    m_statusLabel->setFont(font);
    connect(&m_status, &StatusDisplay::statusTextChanged, m_statusLabel, &QLabel::setText);
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("Cl&ear"), &m_status, &StatusDisplay::clearMessages);
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"), this, &MainWindow::exitRequested);
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    m_monitorAction = view->addAction(QStringLiteral("&Monitor"));
    m_monitorAction->setCheckable(true);
    m_monitorAction->setChecked(true);
    m_monitorAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    // The action only asks for the switch; the switch itself sets the check mark.
    connect(m_monitorAction, &QAction::triggered, this, [this] {
        m_monitorAction->setChecked(isMonitorViewOn());
        toggleMonitorView();
    });
    view->addAction(QStringLiteral("&Log"));
    view->addSeparator();
    QAction* options = view->addAction(
        QStringLiteral("&Options"), this, [this] { emit optionsRequested(OptionsOpenedBy::ViewMenu); });
    options->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
}

bool MainWindow::isMonitorViewOn() const
{
    return m_flatButtons[MonitorButton]->text() == MonitorOnCaption;
}

void MainWindow::toggleMonitorView()
{
    // The switch's state is the caption of the monitor button.
    const bool collapse = isMonitorViewOn();
    centralWidget()->setFixedHeight(collapse ? CollapsedHeight : ExpandedHeight);
    m_statusBar->move(0, collapse ? CollapsedStatusBarTop : ExpandedStatusBarTop);
    m_list->setVisible(!collapse);
    m_flatButtons[MonitorButton]->setText(collapse ? MonitorOffCaption : MonitorOnCaption);
    m_monitorAction->setChecked(!collapse);
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
    // Changing a window flag re-creates a shown window hidden; show it again in its old state.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible)
        show();
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
    // Only hide into a tray icon that is actually shown: without one the window could not be
    // brought back.
    if (m_trayInUse && m_trayInUse())
        hide();
    else if (!isVisible())
        show();
}

void MainWindow::restoreMonitor()
{
    setVisible(true);
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void MainWindow::setMonitorEnabled(bool enabled)
{
    setEnabled(enabled);
}

int MainWindow::clientHeight() const
{
    return m_list->viewport()->height();
}

int MainWindow::rowHeight() const
{
    const int height = m_list->sizeHintForRow(0);
    return height > 0 ? height : m_list->fontMetrics().height();
}

void MainWindow::setTopRow(int row)
{
    const QModelIndex index = m_status.model().index(row);
    if (index.isValid())
        m_list->scrollTo(index, QAbstractItemView::PositionAtTop);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing the window is the same exit as File > Exit.
    event->ignore();
    emit exitRequested();
}
