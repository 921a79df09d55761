#include "MenuActions.h"

#include <QAction>
#include <QKeySequence>

namespace {
QAction* action(QObject* parent, const char* caption, const QKeySequence& shortcut = {})
{
    auto* created = new QAction(QString::fromLatin1(caption), parent);
    created->setShortcut(shortcut);
    return created;
}
} // namespace

MenuActions::MenuActions(QObject* parent)
    : QObject(parent)
    , restore(action(this, "&Restore"))
    , clear(action(this, "Cl&ear"))
    , exit(action(this, "E&xit", QKeySequence(Qt::CTRL | Qt::Key_Q)))
    , trayExit(action(this, "E&xit"))
    , monitor(action(this, "&Monitor", QKeySequence(Qt::CTRL | Qt::Key_M)))
    , log(action(this, "&Log"))
    , history(action(this, "&History", QKeySequence(Qt::CTRL | Qt::Key_H)))
    , options(action(this, "&Options", QKeySequence(Qt::CTRL | Qt::Key_O)))
    , contents(action(this, "&Contents", QKeySequence(Qt::Key_F1)))
    , testAlarm(action(this, "&Test Alarm"))
    , about(action(this, "&About Sentrel"))
    , minimize(action(this, "[ Minimize Now ]"))
{
    connect(trayExit, &QAction::triggered, exit, &QAction::trigger);
    monitor->setCheckable(true);
    monitor->setChecked(true);
}
