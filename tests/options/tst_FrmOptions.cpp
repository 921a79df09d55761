#include "FrmOptions.h"
#include "IntruderLog.h"
#include "OptionsCommands.h"
#include "OptionsPage.h"
#include "OptionsRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {
// A check box or option takes a click only on its mark and caption, at its left.
void press(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

struct Answers final : OptionsPrompts
{
    QString chooseFile() override { return QStringLiteral("/chosen/file.wav"); }
    QString askPort() override { return QStringLiteral("8080"); }
};

// The dialog over the cycle rig, its log in a temporary program folder.
struct DialogRig : CycleRig
{
    explicit DialogRig(const QList<std::pair<QString, QString>>& stored = {})
        : CycleRig({ "21", "23", "25" })
    {
        for (const auto& [key, value] : stored)
            store.store().write(key.section('/', 0, 0), key.section('/', 1), value);
        settings.loadSettings();
        settings.setAppPath(folder.path() + '/');
        commands.setPrompts(&answers);
    }

    bool open()
    {
        dialog.showOptionsDialog();
        return QTest::qWaitForWindowExposed(&dialog);
    }

    // Every control's state, by page, kind and position.
    QStringList snapshot() const
    {
        QStringList states;
        for (int p = 0; p < FrmOptions::pageCount(); ++p) {
            for (auto* box : dialog.page(p)->findChildren<QCheckBox*>())
                states << box->text() + '=' + QString::number(box->checkState());
            for (auto* option : dialog.page(p)->findChildren<QRadioButton*>())
                states << option->text() + '=' + QString::number(option->isChecked());
            for (auto* edit : dialog.page(p)->findChildren<QLineEdit*>())
                if (!edit->objectName().startsWith("qt_")) // a spin box's own editor
                    states << edit->objectName() + '=' + edit->text();
            for (auto* list : dialog.page(p)->findChildren<QListWidget*>())
                for (int i = 0; i < list->count(); ++i)
                    states << "port=" + list->item(i)->text();
        }
        return states;
    }

    // Changes every control as a user would: each check box and option clicked, each box typed
    // into, a port added and one removed.
    void editEverything()
    {
        for (int p = 0; p < FrmOptions::pageCount(); ++p) {
            QTest::mouseClick(dialog.pageLabel(p), Qt::LeftButton);
            for (auto* box : dialog.page(p)->findChildren<QCheckBox*>())
                press(box);
            for (auto* option : dialog.page(p)->findChildren<QRadioButton*>())
                if (!option->isChecked() && option->text() == "O&n")
                    press(option);
            // Boxes the clicks above enabled take typing too.
            for (auto* edit : dialog.page(p)->findChildren<QLineEdit*>())
                if (!edit->objectName().startsWith("qt_"))
                    QTest::keyClicks(edit, "x");
        }
        dialog.findChild<QListWidget*>()->item(0)->setSelected(true);
        button("&Remove Port")->click();
        button("&Add Port")->click();
    }

    QPushButton* button(const QString& caption) const
    {
        for (auto* b : dialog.findChildren<QPushButton*>())
            if (b->text() == caption)
                return b;
        return nullptr;
    }
    template <typename T> T* named(const QString& name) const { return dialog.findChild<T*>(name); }

    QTemporaryDir folder;
    IntruderLog log;
    OptionsCommands commands { options, { {}, [this] { log.purge(settings.settings().appPath); } } };
    FrmOptions dialog { options, cycle, commands, alarm };
    Answers answers;
};
} // namespace

class TestFrmOptions : public QObject
{
    Q_OBJECT

private slots:
    // A stored value, then a click on a check box or option of a page: the controls that depend
    // on it are enabled or disabled, and a text box keeps its text either way.
    void dependentControls_data()
    {
        QTest::addColumn<QString>("storedKey");
        QTest::addColumn<QString>("storedValue");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("controls");
        const auto row = [](const char* name, const char* key, const char* value, const char* click, int page,
                             bool enabled, const QStringList& controls) {
            QTest::newRow(name) << key << value << click << page << enabled << controls;
        };
        const QStringList sounds { "fraSounds", "txtSounds0", "txtSounds1", "txtSounds2", "txtSounds3",
            "cmdBrowse2", "cmdBrowse3", "cmdBrowse4", "cmdBrowse5" };
        row("Run unchecked", "General/Run", "1", "&Run", 0, false, { "txtStartrun", "cmdBrowse0" });
        row("Run checked", "General/Run", "0", "&Run", 0, true, { "txtStartrun", "cmdBrowse0" });
        row("attack Run checked", "Display/Attack Run", "0", "&Run", 1, true,
            { "txtAttackrun", "cmdBrowse1" });
        row("sounds Off", "Sounds/On", "True", "O&ff", 2, false, sounds);
        row("sounds On", "Sounds/On", "False", "O&n", 2, true, sounds);
        row("logs stored false", "General/Logs", "False", "", 0, false, { "cmdLogsread", "cmdLogspurge" });
        row("chat link enabled", "Advance/DDE On", "0", "&Enable", 3, true, { "txtDde" });
    }
    void dependentControls()
    {
        QFETCH(QString, storedKey);
        QFETCH(QString, storedValue);
        QFETCH(QString, click);
        QFETCH(int, page);
        QFETCH(bool, enabled);
        QFETCH(QStringList, controls);
        DialogRig rig({ { storedKey, storedValue }, { "General/Run File", "kept" } });
        QVERIFY(rig.open());
        if (storedKey == "General/Logs")
            QVERIFY(rig.dialog.page(0)->findChildren<QRadioButton*>().at(1)->isChecked());
        QTest::mouseClick(rig.dialog.pageLabel(page), Qt::LeftButton);
        for (auto* control : rig.dialog.page(page)->findChildren<QAbstractButton*>())
            if (control->text() == click)
                press(control);
        for (const QString& name : controls)
            QVERIFY2(rig.named<QWidget>(name)->isEnabled() == enabled, qPrintable(name));
        QCOMPARE(rig.named<QLineEdit>("txtStartrun")->text(), QString("kept"));
    }

    void everyWayOfClosing_data()
    {
        QTest::addColumn<int>("way");
        // Purging the log is done at once: closing never brings it back.
        QTest::newRow("OK keeps every edit") << 0;
        QTest::newRow("Cancel drops every edit") << 1;
        QTest::newRow("Escape drops every edit") << 2;
        QTest::newRow("title bar drops every edit") << 3;
    }
    void everyWayOfClosing()
    {
        QFETCH(int, way);
        DialogRig rig;
        QFile log(rig.folder.filePath("Log.txt"));
        QVERIFY(log.open(QIODevice::WriteOnly) && log.write("entry\r\n") > 0);
        log.close();
        QVERIFY(rig.open());
        const QStringList stored = rig.snapshot();
        rig.named<QPushButton>("cmdLogspurge")->click();
        QVERIFY(!log.exists());
        rig.editEverything();
        const QStringList edited = rig.snapshot();
        QCOMPARE(edited.size(), stored.size());
        int changed = 0;
        for (int i = 0; i < stored.size(); ++i)
            changed += stored.at(i) != edited.at(i);
        // Nineteen check boxes, the sounds' On/Off pair, eight text boxes and three port entries.
        QCOMPARE(changed, 32);

        if (way == 0)
            QTest::mouseClick(rig.dialog.okButton(), Qt::LeftButton);
        else if (way == 1)
            QTest::mouseClick(rig.dialog.cancelButton(), Qt::LeftButton);
        else if (way == 2)
            QTest::keyClick(&rig.dialog, Qt::Key_Escape);
        else
            rig.dialog.close();
        QVERIFY(!rig.dialog.isVisible() && !log.exists());
        QCOMPARE(rig.journal.calls, (QStringList { "netcheck off", "reapply", "enable", "hide" }));
        const QStringList kept = way == 0 ? edited : stored;
        QCOMPARE(rig.snapshot(), kept);
        for (int opening = 0; opening < 2; ++opening) {
            QVERIFY(rig.open());
            QCOMPARE(rig.snapshot(), kept);
            rig.dialog.cancelButton()->click();
        }
    }

    void pagesLabelsAndHotkeyHelp()
    {
        DialogRig rig;
        QVERIFY(rig.open());
        const auto visiblePages = [&rig] {
            QList<int> pages;
            for (int i = 0; i < FrmOptions::pageCount(); ++i)
                if (rig.dialog.page(i)->isVisible())
                    pages << i;
            return pages;
        };
        QCOMPARE(visiblePages(), (QList<int> { 0, 1, 2, 3, 4 }));
        // Stacked, the first page lies on top.
        QVERIFY(
            rig.dialog.page(0)->isAncestorOf(rig.dialog.childAt(rig.dialog.page(0)->geometry().center())));
        QTest::mouseClick(rig.dialog.pageLabel(2), Qt::LeftButton);
        QCOMPARE(visiblePages(), QList<int> { 2 });
        QMouseEvent over(
            QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(rig.dialog.pageLabel(1), &over);
        QVERIFY(rig.dialog.pageLabel(1)->font().bold() && rig.dialog.pageLabel(1)->font().underline());
        QVERIFY(!rig.dialog.pageLabel(2)->font().bold());
        QApplication::sendEvent(rig.dialog.page(2), &over); // the frame's own border
        QVERIFY(!rig.dialog.pageLabel(1)->font().bold() && !rig.dialog.pageLabel(1)->font().underline());

        QApplication::sendEvent(rig.dialog.pageLabel(3), &over);
        rig.dialog.cancelButton()->click();
        QVERIFY(rig.open());
        QCOMPARE(visiblePages(), (QList<int> { 0, 1, 2, 3, 4 }));
        QVERIFY(!rig.dialog.pageLabel(3)->font().bold());

        // A right click on the hotkeys box gives its help and leaves the box as it was.
        QTest::mouseClick(rig.dialog.pageLabel(1), Qt::LeftButton);
        auto* hotkeys = rig.dialog.page(1)->findChildren<QCheckBox*>().at(3);
        const bool before = hotkeys->isChecked();
        QString title;
        QTimer::singleShot(0, this, [&title] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                title = box->windowTitle();
                box->accept();
            }
        });
        QTest::mouseClick(hotkeys, Qt::RightButton, {}, QPoint(6, hotkeys->height() / 2));
        QCOMPARE(title, QString("Hotkeys Menu"));
        QCOMPARE(hotkeys->isChecked(), before);
    }
};

QTEST_MAIN(TestFrmOptions)
#include "tst_FrmOptions.moc"
