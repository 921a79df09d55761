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
    void dependentControls_data();
    void dependentControls();
    void everyWayOfClosing_data();
    void everyWayOfClosing();
    void pagesAndLabels();
    void hotkeyHelpLeavesTheBox();
};

void TestFrmOptions::dependentControls_data()
{
    QTest::addColumn<QString>("storedKey");
    QTest::addColumn<QString>("storedValue");
    QTest::addColumn<QString>("click"); // a check box or option caption, on its page
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("disabled");
    QTest::addColumn<QStringList>("enabled");

    const QStringList sounds { "fraSounds", "txtSounds0", "txtSounds1", "txtSounds2", "txtSounds3", "cmdBrowse2",
        "cmdBrowse3", "cmdBrowse4", "cmdBrowse5" };
    QTest::newRow("Run unchecked") << "General/Run" << "1" << "&Run" << 0
                                   << QStringList { "txtStartrun", "cmdBrowse0" } << QStringList {};
    QTest::newRow("Run checked") << "General/Run" << "0" << "&Run" << 0 << QStringList {}
                                 << QStringList { "txtStartrun", "cmdBrowse0" };
    QTest::newRow("attack Run checked") << "Display/Attack Run" << "0" << "&Run" << 1 << QStringList {}
                                        << QStringList { "txtAttackrun", "cmdBrowse1" };
    QTest::newRow("sounds Off") << "Sounds/On" << "True" << "O&ff" << 2 << sounds << QStringList {};
    QTest::newRow("sounds On") << "Sounds/On" << "False" << "O&n" << 2 << QStringList {} << sounds;
    QTest::newRow("logs stored false") << "General/Logs" << "False" << "" << 0
                                       << QStringList { "cmdLogsread", "cmdLogspurge" } << QStringList {};
    QTest::newRow("chat link enabled") << "Advance/DDE On" << "0" << "&Enable" << 3 << QStringList {}
                                       << QStringList { "txtDde" };
}

void TestFrmOptions::dependentControls()
{
    QFETCH(QString, storedKey);
    QFETCH(QString, storedValue);
    QFETCH(QString, click);
    QFETCH(int, page);
    QFETCH(QStringList, disabled);
    QFETCH(QStringList, enabled);

    DialogRig rig({ { storedKey, storedValue }, { "General/Run File", "kept" } });
    QVERIFY(rig.open());
    if (storedKey == "General/Logs")
        QVERIFY(rig.dialog.page(0)->findChildren<QRadioButton*>().at(1)->isChecked());
    QTest::mouseClick(rig.dialog.pageLabel(page), Qt::LeftButton);
    for (auto* control : rig.dialog.page(page)->findChildren<QAbstractButton*>())
        if (control->text() == click)
            press(control);
    for (const QString& name : disabled)
        QVERIFY2(!rig.named<QWidget>(name)->isEnabled(), qPrintable(name));
    for (const QString& name : enabled)
        QVERIFY2(rig.named<QWidget>(name)->isEnabled(), qPrintable(name));
    QCOMPARE(rig.named<QLineEdit>("txtStartrun")->text(), QString("kept"));
}

void TestFrmOptions::everyWayOfClosing_data()
{
    QTest::addColumn<int>("way");
    // Purging the log is done at once: closing never brings it back.
    QTest::newRow("OK keeps every edit") << 0;
    QTest::newRow("Cancel drops every edit") << 1;
    QTest::newRow("Escape drops every edit") << 2;
    QTest::newRow("title bar drops every edit") << 3;
}

void TestFrmOptions::everyWayOfClosing()
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

void TestFrmOptions::pagesAndLabels()
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
    QVERIFY(rig.dialog.page(0)->isAncestorOf(rig.dialog.childAt(rig.dialog.page(0)->geometry().center())));
    QTest::mouseClick(rig.dialog.pageLabel(2), Qt::LeftButton);

    QCOMPARE(visiblePages(), QList<int> { 2 });

    QMouseEvent over(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
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
}

void TestFrmOptions::hotkeyHelpLeavesTheBox()
{
    DialogRig rig;
    QVERIFY(rig.open());
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

QTEST_MAIN(TestFrmOptions)
#include "tst_FrmOptions.moc"
