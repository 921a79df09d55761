#include "AlarmOptions.h"
#include "AlarmPage.h"
#include "CommandLine.h"
#include "DesktopSeams.h"
#include "FrmOptions.h"
#include "IntruderLog.h"
#include "MonitorRig.h"
#include "OptionsCommands.h"
#include "OptionsCycle.h"
#include "PortEntry.h"
#include "SettingValue.h"
#include "NetworkWatch.h"
#include "TestStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

namespace {
// A check box or option takes a click only on its mark and caption, at its left.
void press(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// The options dialog and its cycle over a settings file, real listeners on loopback ports, the
// log in a temporary program folder, and one journal of the monitor window and the network watch.
struct Rig final : MonitorWindowAccess, NetworkWatch, OptionsPrompts
{
    // stored: "Section/Key=value", written over the first start's values.
    explicit Rig(const QStringList& stored = {})
    {
        settings.firstStartup();
        for (const QString& value :
            QStringList { "Ports/Number=2", "Sounds/On=False", "Alarm/Allow=192.0.2.1" } + stored)
            store.store().write(
                value.section('/', 0, 0), value.section('/', 1).section('=', 0, 0), value.section('=', 1));
        store.store().sync();
        settings.loadSettings();
        settings.setAppPath(folder.path() + '/');
        alarm.load(); // as start-up does: the store has the newer sections before the dialog opens
        commands.setPrompts(this);
        static_cast<AlarmPage*>(dialog.page(4))->setAsk([this] { return chooseFile(); });
        QObject::connect(&cycle, &OptionsCycle::hideRequested, &cycle, [this] { calls << "hide"; });
    }
    // clang-format off
    void restoreMonitor() override { }
    void setMonitorEnabled(bool on) override { calls << (on ? "enable" : "disable"); }
    void setEnabled(bool on) override { calls << (on ? "netcheck on" : "netcheck off"); }
    void resetNetState() override { }
    QString chooseFile() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    QString askPort() override { return " 8080 "; }
    // clang-format on

    // What opening the dialog does: the listeners close, the dialog shows.
    bool open()
    {
        monitoring.closePortListeners();
        calls.clear();
        dialog.showOptionsDialog();
        return QTest::qWaitForWindowExposed(&dialog);
    }
    QByteArray file() const
    {
        QFile f(store.path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
            for (auto* spin : dialog.page(p)->findChildren<QSpinBox*>())
                states << QString::number(spin->value());
            for (auto* list : dialog.page(p)->findChildren<QListWidget*>())
                for (int i = 0; i < list->count(); ++i)
                    states << "item=" + list->item(i)->text();
        }
        return states;
    }

    // Changes every control as a user would: each check box and each option not chosen clicked
    // (the log switched off, the sounds on), each box typed into and four of them browsed for,
    // each spin box stepped, the first and third ports replaced by two new ones, the address by
    // another.
    void editEverything()
    {
        for (int p = 0; p < FrmOptions::pageCount(); ++p) {
            QTest::mouseClick(dialog.pageLabel(p), Qt::LeftButton);
            for (auto* box : dialog.page(p)->findChildren<QCheckBox*>())
                press(box);
            const auto options = dialog.page(p)->findChildren<QRadioButton*>(); // On, Off
            for (int i = 0; i + 1 < options.size(); i += 2)
                press(options[i]->isChecked() ? options[i + 1] : options[i]);
            // Boxes the clicks above enabled take typing too.
            for (auto* edit : dialog.page(p)->findChildren<QLineEdit*>())
                if (!edit->objectName().startsWith("qt_"))
                    QTest::keyClicks(edit, "x");
            for (auto* spin : dialog.page(p)->findChildren<QSpinBox*>())
                QTest::keyClick(spin, Qt::Key_Up);
            for (auto* list : dialog.page(p)->findChildren<QListWidget*>())
                for (int row = 0; row < list->count(); row += 2)
                    list->item(row)->setSelected(true);
        }
        // Browsed for: a program with a quote and a backslash, one with a blank, a cancelled sound,
        // a sound file with a blank.
        answers = QStringList { "/tmp/it's \"q\"\\x", "/opt/My Tools/alarm", "", "/snd/My Alarm.wav" };
        for (const char* name : { "cmdBrowse0", "cmdBrowse1", "cmdBrowse2", "cmdBrowse4" })
            named<QPushButton>(name)->click();
        // An address is trimmed and listed once, an invalid one refused, a cancelled prompt ignored.
        answers = QStringList { " 198.51.100.7 ", "198.51.100.7", "backup.lan", "" };
        for (const char* caption : { "&Remove Port", "&Add Port", "&Add Port", "Re&move Address",
                 "A&dd Address", "A&dd Address", "A&dd Address", "A&dd Address" })
            for (auto* button : dialog.findChildren<QPushButton*>())
                if (button->text() == caption)
                    button->click();
    }
    template <typename T> T* named(const QString& name) const { return dialog.findChild<T*>(name); }

    TestStore store;
    Recorder out;
    OptionsModel options;
    SettingsManager settings { store.store(), options };
    MonitoringState state;
    MonitoringSwitch monitoring { out, state, options, settings, out, out, out };
    AlarmOptions alarm { store.store() };
    // Re-applying unloads the sentinel when RPS is off, as the program's re-apply does.
    OptionsCycle cycle { { &settings,
                             [this] {
                                 calls << "reapply";
                                 if (SettingValue::isOff(settings.settings().rps))
                                     monitoring.unloadSentinel();
                             },
                             this, this, &state, &monitoring, &alarm },
        FrmOptions::pageCount() };
    QTemporaryDir folder;
    IntruderLog log;
    OptionsCommands commands { options, { {}, [this] { log.purge(settings.settings().appPath); } } };
    FrmOptions dialog { options, cycle, commands, alarm };
    QStringList calls, answers;
};
} // namespace

class TestFrmOptions : public QObject
{
    Q_OBJECT

private slots:
    // Every way of closing undoes the opening: the stored settings re-applied, the window enabled,
    // the dialog hidden; the listeners (and the sentinel when RPS is on) back if monitoring is, and
    // without status lines.
    void closeSteps()
    {
        const struct
        {
            bool monitoringOn, storedRps;
            int editedRps; // -1: unchanged
            bool ok, sentinel;
        } cases[] { { false, false, -1, false, false }, // Cancel, monitoring off
            { true, false, 1, false, false }, // Cancel drops a newly checked RPS
            { true, false, 1, true, true }, { true, true, 0, true, false } }; // OK, RPS newly (un)checked
        for (const auto& c : cases) {
            const std::vector<int> ports = Loopback::freePorts(2);
            Rig rig({ "Ports/Number=1", QString("Ports/0=%1").arg(ports[0]),
                QString("Ports/1=%1").arg(ports[1]), QString("Advance/RPS=%1").arg(c.storedRps) });
            if (c.monitoringOn)
                rig.monitoring.toggleMonitoring();
            QVERIFY(rig.open());
            QVERIFY(!Loopback::isListening(ports[0]));
            rig.out.log.clear();
            if (c.editedRps >= 0)
                rig.options.setCheckState(OptionsModel::Check::Rps, c.editedRps);

            c.ok ? rig.cycle.ok() : rig.cycle.close();
            QCOMPARE(rig.calls, (QStringList { "netcheck off", "reapply", "enable", "hide" }));
            QCOMPARE(Loopback::isListening(ports[0]) && Loopback::isListening(ports[1]), c.monitoringOn);
            QCOMPARE(rig.monitoring.sentinel().isLoaded(), c.sentinel);
            QVERIFY(rig.out.lines().filter("Monitoring Port: ").isEmpty());
        }
    }

    // An empty port list is stored as "-1" and comes back empty.
    void emptyPortListRoundTrip()
    {
        Rig rig;
        rig.options.removePorts({ 0, 1, 2 });
        rig.cycle.ok();
        rig.cycle.ok();
        QCOMPARE(rig.store.store().read("Ports", "Number"), QString("-1"));
        QVERIFY(rig.options.ports().isEmpty());
    }

    // Every control takes the user's edit, and shows the stored value again after any close but OK;
    // the controls that depend on a check box or option follow it. Nothing is written before OK;
    // purging the log is done at once, and closing never brings it back.
    void everyWayOfClosing_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("OK keeps every edit") << 0;
        QTest::newRow("Cancel drops every edit") << 1;
        QTest::newRow("Escape drops every edit") << 2;
        QTest::newRow("title bar drops every edit") << 3;
    }
    void everyWayOfClosing()
    {
        QFETCH(int, way);
        Rig rig;
        QFile log(rig.folder.filePath("Log.txt"));
        QVERIFY(log.open(QIODevice::WriteOnly) && log.write("entry\r\n") > 0);
        log.close();
        QVERIFY(rig.open());
        const QStringList stored = rig.snapshot();
        const QByteArray file = rig.file();
        const auto enabled = [&rig] {
            QString flags;
            for (const char* name : { "txtStartrun", "cmdBrowse0", "cmdLogsread", "cmdLogspurge",
                     "txtAttackrun", "cmdBrowse1", "fraSounds", "txtSounds0", "txtSounds1", "txtSounds2",
                     "txtSounds3", "cmdBrowse2", "cmdBrowse3", "cmdBrowse4", "cmdBrowse5", "txtDde" })
                flags += rig.named<QWidget>(name)->isEnabled() ? '1' : '0';
            return flags;
        };
        const QString storedFlags = "0011000000000000", editedFlags = "1100111111111111";
        QCOMPARE(enabled(), storedFlags);
        rig.named<QPushButton>("cmdLogspurge")->click();
        QVERIFY(!log.exists());
        rig.editEverything();
        const QStringList edited = rig.snapshot();
        QCOMPARE(edited.size(), stored.size());
        int changed = 0;
        for (int i = 0; i < stored.size(); ++i)
            changed += stored.at(i) != edited.at(i);
        // 19 check boxes, the two On/Off pairs, eight text boxes, three spin boxes, three port
        // entries and the address.
        QCOMPARE(changed, 38);
        QCOMPARE(enabled(), editedFlags);
        QCOMPARE(rig.options.ports(), QStringList({ "23", "8080", "8080" }));
        // A program is quoted so that it runs as the one word chosen; a sound file is kept as chosen.
        QStringList browsed;
        for (const char* name : { "txtStartrun", "txtAttackrun", "txtSounds0", "txtSounds2" })
            browsed << rig.named<QLineEdit>(name)->text();
        QCOMPARE(browsed,
            QStringList(
                { "\"/tmp/it's \\\"q\\\"\\\\x\"", "\"/opt/My Tools/alarm\"", "None", "/snd/My Alarm.wav" }));
        QCOMPARE(CommandLine::splitWords(browsed[0]) + CommandLine::splitWords(browsed[1]),
            QStringList({ "/tmp/it's \"q\"\\x", "/opt/My Tools/alarm" }));
        QCOMPARE(rig.named<QLabel>("lblAllowError")->text(),
            QString("\"backup.lan\": not an IPv4 or IPv6 address"));
        QCOMPARE(rig.file(), file);

        if (way == 0)
            QTest::mouseClick(rig.dialog.okButton(), Qt::LeftButton);
        else if (way == 1)
            QTest::mouseClick(rig.dialog.cancelButton(), Qt::LeftButton);
        else if (way == 2)
            QTest::keyClick(&rig.dialog, Qt::Key_Escape);
        else
            rig.dialog.close();
        QVERIFY(!rig.dialog.isVisible() && !log.exists());
        QVERIFY(way == 0 || rig.file() == file);
        const QStringList kept = way == 0 ? edited : stored;
        QCOMPARE(rig.snapshot(), kept);
        QCOMPARE(enabled(), way == 0 ? editedFlags : storedFlags);
        QVERIFY(rig.open());
        QCOMPARE(rig.snapshot(), kept);
    }

    void pagesLabelsAndHotkeyHelp()
    {
        Rig rig;
        QVERIFY(rig.open());
        QCOMPARE(rig.dialog.pageLabel(4)->text(), QString("Alarm"));
        QCOMPARE(rig.dialog.page(4)->findChild<QLabel*>("pageTitle")->text(), QString("Alarm Settings"));
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

    // "Add Port": blanks around, halves to the even neighbour, the int range, the locale's
    // decimal mark; anything else is refused (null).
    void portEntry()
    {
        const struct
        {
            const char* typed;
            const char* entry;
            QLocale locale = QLocale::c();
        } cases[] { { " 443 ", "443" }, { "80.5", "80" }, { "81.5", "82" }, { "2147483647", "2147483647" },
            { "-2147483648", "-2147483648" }, { "2147483648", nullptr }, { "2147483647.5", nullptr },
            { "80abc", nullptr }, { "inf", nullptr }, { "80,5", "80", QLocale(QLocale::German) } };
        for (const auto& c : cases)
            QCOMPARE(::portEntry(c.typed, c.locale).value_or(QString()), QString(c.entry));
    }
};

QTEST_MAIN(TestFrmOptions)
#include "tst_FrmOptions.moc"
