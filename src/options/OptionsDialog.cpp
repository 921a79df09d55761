#include "OptionsDialog.h"

#include "AdvancePage.h"
#include "AlarmPage.h"
#include "BlockingPage.h"
#include "DetectionPage.h"
#include "DisplayPage.h"
#include "GeneralPage.h"
#include "ItemFileDialog.h"
#include "PageLabelRow.h"
#include "PushPage.h"
#include "SoundsPage.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QStackedLayout>
#include <QWindow>

#include <algorithm>
#include <array>

namespace {
// What a page may bind to.
struct PageSources
{
    OptionsModel& options;
    OptionsCommands& commands;
};

struct PageKind
{
    const char* label;
    const char* title;
    OptionsPage* (*make)(const QString& title, const PageSources&, QWidget* parent);
};

template <typename Page> OptionsPage* makePage(const QString& title, const PageSources& s, QWidget* p)
{
    return new Page(title, s.options, s.commands, p);
}

// The pages, left to right.
constexpr std::array kPages {
    PageKind { "General", "General Settings", &makePage<GeneralPage> },
    PageKind { "Display", "Display Settings", &makePage<DisplayPage> },
    PageKind { "Sounds", "Sounds Settings", &makePage<SoundsPage> },
    PageKind { "Advance", "Advance Settings", &makePage<AdvancePage> },
    PageKind { "Alarm", "Alarm Settings", &makePage<AlarmPage> },
    PageKind { "Detection", "Detection Settings", &makePage<DetectionPage> },
    PageKind { "Push", "Push Settings", &makePage<PushPage> },
    PageKind { "Blocking", "Blocking Settings", &makePage<BlockingPage> },
};
} // namespace

int OptionsDialog::pageCount()
{
    return int(kPages.size());
}

OptionsDialog::OptionsDialog(
    OptionsModel& options, OptionsCommands& commands, QWidget* transientFor)
    : m_transientFor(transientFor)
{
    setWindowTitle(QStringLiteral("Options"));
    setMouseTracking(true);
    commands.setPrompts(this);

    // Created first, so that OK comes first in the tab order.
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, [this] {
        if (!refuseFields())
            emit closeRequested(true);
    });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { emit closeRequested(false); });

    m_labelRow = new PageLabelRow(this);
    m_pageArea = new QStackedLayout;
    for (const PageKind& kind : kPages) {
        const int index = int(m_labels.size());
        QLabel* label = m_labelRow->addLabel(QString::fromLatin1(kind.label));
        // Every letter of the page names is some page's access key already: the row takes digits.
        const QKeySequence accessKey(Qt::ALT | Qt::Key(Qt::Key_1 + index));
        label->setToolTip(accessKey.toString(QKeySequence::NativeText));
        connect(new QShortcut(accessKey, this), &QShortcut::activated, this,
            [this, index] { selectPage(index); });
        label->setMouseTracking(true);
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
        m_labels.push_back(label);

        OptionsPage* page = kind.make(QString::fromLatin1(kind.title), { options, commands }, this);
        page->setAccessibleName(QString::fromLatin1(kind.title));
        page->installEventFilter(this);
        m_pageArea->addWidget(page);
        m_pages.push_back(page);
    }
    connect(m_labelRow, &PageLabelRow::pageRequested, this, &OptionsDialog::selectPage);
    // An X or Wayland keyboard offers Ctrl+Shift+Tab as Ctrl+Shift+Tab or Ctrl+Backtab, never as
    // the Ctrl+Shift+Backtab Qt makes of a Shift+Tab; one sequence only, since a key two shortcuts
    // match is ambiguous and starts neither.
    const std::pair<QKeySequence, int> steps[] { { QKeySequence(Qt::CTRL | Qt::Key_Tab), 1 },
        { QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1 },
        { QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1 },
        { QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1 } };
    for (const auto& [keys, step] : steps) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] { stepPage(step); });
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_cancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_labelRow);
    layout->addLayout(m_pageArea, 1);
    layout->addLayout(buttons);
    selectPage(0);
}

void OptionsDialog::showOptionsDialog()
{
    if (m_transientFor) {
        winId(); // the platform window must exist to take the hint
        if (QWindow* parentWindow = m_transientFor->window()->windowHandle())
            windowHandle()->setTransientParent(parentWindow);
    }
    show();
    raise();
    activateWindow();
    m_okButton->setFocus();
}

QString OptionsDialog::chooseFile()
{
    return ItemFileDialog::choose(this, QStringLiteral("Choose a file:"));
}

QString OptionsDialog::askPort()
{
    bool ok = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("Add Port"),
        QStringLiteral("Please Enter Port Number.."), QLineEdit::Normal, QStringLiteral("0000"), &ok);
    return ok ? text : QString();
}

void OptionsDialog::resetPages()
{
    selectPage(0);
    highlightLabel(NoLabel);
}

void OptionsDialog::reject()
{
    emit closeRequested(false);
}

void OptionsDialog::closeEvent(QCloseEvent* event)
{
    // The title bar's close is a Cancel: it must give the monitor window and the listeners back.
    event->ignore();
    if (isVisible())
        emit closeRequested(false);
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event)
{
    const auto label = std::find(m_labels.begin(), m_labels.end(), watched);
    if (label != m_labels.end()) {
        const int index = int(label - m_labels.begin());
        if (event->type() == QEvent::MouseButtonRelease)
            selectPage(index);
        else if (event->type() == QEvent::MouseMove)
            highlightLabel(index);
    } else if (event->type() == QEvent::MouseMove) {
        // A page frame's own surface, not one of its controls.
        auto* page = static_cast<QWidget*>(watched);
        if (!page->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()))
            highlightLabel(NoLabel);
    }
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (!childAt(event->position().toPoint()))
        highlightLabel(NoLabel);
    QDialog::mouseMoveEvent(event);
}

bool OptionsDialog::refuseFields()
{
    // Every page says what is wrong; the first field at fault comes forward.
    QWidget* first = nullptr;
    int firstPage = NoLabel;
    for (int i = 0; i < pageCount(); ++i) {
        QWidget* field = m_pages[std::size_t(i)]->refuseFields();
        if (field && !first) {
            first = field;
            firstPage = i;
        }
    }
    if (!first)
        return false;
    selectPage(firstPage);
    first->setFocus(Qt::OtherFocusReason);
    return true;
}

void OptionsDialog::selectPage(int page)
{
    if (page < 0 || page >= pageCount())
        return;
    m_pageArea->setCurrentIndex(page);
    m_labelRow->setCurrent(page);
}

void OptionsDialog::stepPage(int step)
{
    selectPage(((m_pageArea->currentIndex() + step) % pageCount() + pageCount()) % pageCount());
}

void OptionsDialog::highlightLabel(int label)
{
    if (label == m_highlighted)
        return;
    m_highlighted = label;
    for (int i = 0; i < pageCount(); ++i) {
        QFont font = m_labels[std::size_t(i)]->font();
        font.setBold(i == label);
        font.setUnderline(i == label);
        m_labels[std::size_t(i)]->setFont(font);
    }
}
