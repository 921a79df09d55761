#include "GuiClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {
// Without a display the program runs on a plain QCoreApplication, which has no clipboard: the
// address is then not copied.
QClipboard* applicationClipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}
} // namespace

GuiClipboard::GuiClipboard()
    : m_pending(QString(), IntervalMs)
{
    QObject::connect(&m_pending, &CoalescedText::changed, &m_pending, &GuiClipboard::publish);
    // Once another program owns the clipboard, the same address must be copied again.
    if (QClipboard* clipboard = applicationClipboard()) {
        QObject::connect(clipboard, &QClipboard::changed, &m_pending, [this, clipboard] {
            if (!clipboard->ownsClipboard() || (clipboard->supportsSelection() && !clipboard->ownsSelection()))
                m_pending.forget();
        });
    }
}

void GuiClipboard::copyToClipboard(const QString& text)
{
    m_pending.set(text);
}

void GuiClipboard::publish(const QString& text)
{
    QClipboard* clipboard = applicationClipboard();
    if (!clipboard)
        return;
    clipboard->setText(text, QClipboard::Clipboard);
    if (clipboard->supportsSelection())
        clipboard->setText(text, QClipboard::Selection);
}
