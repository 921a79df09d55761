#include "AlarmPage.h"
#include "BlockingPage.h"
#include "DetectionPage.h"
#include "DesktopSeams.h"
#include "HotkeyControl.h"
#include "IntruderLog.h"
#include "LocalHttpServer.h"
#include "MonitorRig.h"
#include "NetworkWatch.h"
#include "OptionsCommands.h"
#include "OptionsDialog.h"
#include "OptionsOpener.h"
#include "PageLabelRow.h"
#include "PortEntry.h"
#include "ProtectionIndicator.h"
#include "PushDelivery.h"
#include "PushPage.h"
#include "StatusDisplay.h"
#include "TestFiles.h"
#include "TestStore.h"

namespace {
// A check box or option takes a click only on its mark and caption, at its left.
void press(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// The options dialog and its opener over a settings file, real listeners on loopback ports, the
// log in a temporary program folder, and one journal of the monitor window (and whether the dialog
// was shown then), the network watch, the hotkeys and the status text.
struct Rig final : MonitorWindowAccess, NetworkWatch, HotkeyControl, OptionsPrompts
{
    // stored: "Section/Key=value", written over the first start's values.
    explicit Rig(const QStringList& stored = {})
    {
        settings.firstStartup();
        writeValues(store.store(), "Ports/Number=2;Sounds/On=False;Alarm/Allow=192.0.2.1;" + stored.join(';'));
        store.store().sync();
        settings.loadSettings();
        settings.setAppPath(folder.path() + '/');
        commands.setPrompts(this);
        static_cast<AlarmPage*>(dialog.page(4))->setAsk([this] { return chooseFile(); });
        static_cast<DetectionPage*>(dialog.page(5))->setAsk([this] { return chooseFile(); });
        QObject::connect(
            &display, &StatusDisplay::statusTextChanged, [this](const QString& text) { calls << text; });
        // Applying unloads the sentinel when RPS is off, as the program's re-apply does.
        QObject::connect(&settings, &SettingsManager::applied, [this] {
            calls << "reapply";
            if (settings.settings().rps.isOff())
                monitoring.unloadSentinel();
        });
    }
    void setMonitorEnabled(bool on) override
    {
        calls << QString(on ? "enable" : "disable") + (dialog.isVisible() ? "" : " unseen");
    }
    void load() override { calls << "hotkeys load"; }
    void unload() override { calls << "hotkeys unload"; }
    void setEnabled(bool on) override { calls << (on ? "netcheck on" : "netcheck off"); }
    QString chooseFile() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    QString askPort() override { return chooseFile(); }
    void restoreMonitor() override { }
    void resetNetState() override { }

    bool open(OptionsOpenedBy by = OptionsOpenedBy::OptionsButton)
    {
        calls.clear();
        opener.open(by);
        return QTest::qWaitForWindowExposed(&dialog);
    }
    QByteArray file() const { return fileBytes(store.path()); }

    // Every control's state, by page, kind and position. Editing first changes each as a user would:
    // each check box and each option not chosen clicked (the log off, the sounds on), each box the
    // clicks enabled typed into, each spin box stepped, every other port and address selected.
    QStringList controls(bool edit = false)
    {
        QStringList states;
        for (int p = 0; p < OptionsDialog::pageCount(); ++p) {
            QWidget* page = dialog.page(p);
            if (edit)
                QTest::mouseClick(dialog.pageLabel(p), Qt::LeftButton);
            for (auto* box : page->findChildren<QCheckBox*>()) {
                if (edit)
                    press(box);
                states << box->text() + '=' + QString::number(box->checkState());
            }
            const auto options = page->findChildren<QRadioButton*>(); // On, Off
            for (int i = 0; edit && i + 1 < options.size(); i += 2)
                press(options[i]->isChecked() ? options[i + 1] : options[i]);
            for (auto* option : options)
                states << option->text() + '=' + QString::number(option->isChecked());
            for (auto* text : page->findChildren<QLineEdit*>())
                if (!text->objectName().startsWith("qt_")) { // not a spin box's own editor
                    if (edit)
                        QTest::keyClicks(text, "x");
                    states << text->objectName() + '=' + text->text();
                }
            for (auto* spin : page->findChildren<QSpinBox*>()) {
                if (edit)
                    QTest::keyClick(spin, Qt::Key_Up);
                states << QString::number(spin->value());
            }
            for (auto* list : page->findChildren<QListWidget*>())
                for (int i = 0; i < list->count(); ++i) {
                    list->item(i)->setSelected(edit && i % 2 == 0);
                    states << "item=" + list->item(i)->text();
                }
        }
        return states;
    }
    void click(const QStringList& names, const QStringList& chosen)
    {
        answers = chosen;
        for (const QString& name : names)
            for (auto* button : dialog.findChildren<QPushButton*>())
                if (button->objectName() == name || button->text() == name)
                    button->click();
    }
    template <typename T> T* named(const QString& name) const { return dialog.findChild<T*>(name); }

    TestStore store;
    Recorder out;
    OptionsModel options;
    SettingsManager settings { store.store(), options };
    MonitoringState state;
    MonitoringSwitch monitoring { out, state, options, settings, out, out };
    StatusDisplay display { state };
    ProtectionIndicator protection { monitoring, display, nullptr, nullptr };
    QTemporaryDir folder;
    IntruderLog log;
    OptionsCommands commands { options, { {}, [this] { log.purge(settings.settings().appPath); } } };
    OptionsDialog dialog { options, commands };
    OptionsOpener opener { dialog, { settings, monitoring, state, *this, *this, *this, protection } };
    QStringList calls, answers; // answers: what the file and port prompts answer
};
} // namespace

class TestOptionsDialog : public QObject
{
    Q_OBJECT

private slots:
    // Every control takes the user's edit, and shows the stored value again after any close but OK;
    // the controls that depend on a check box or option follow it. Nothing is written before OK (the
    // UDP list too); purging the log is done at once, and closing never brings it back. Opening closes
    // the listeners, pauses the protection while monitoring, shows the dialog, then disables the window;
    // the Options button and F11 also stop the hotkeys, the View menu does not. Every way of closing
    // undoes the opening: the stored settings re-applied, the window enabled before the dialog hides;
    // the listeners (and the sentinel when RPS is on) back if monitoring is, then the protection.
    void everyWayOfClosing_data()
    {
        using By = OptionsOpenedBy;
        QTest::addColumn<int>("way");
        QTest::addColumn<bool>("monitoring");
        QTest::addColumn<bool>("storedRps"); // the edit turns it round
        QTest::addColumn<int>("openedBy");
        QTest::newRow("OK keeps every edit") << 0 << true << false << int(By::OptionsButton);
        QTest::newRow("OK turning RPS off") << 0 << true << true << int(By::Hotkey);
        QTest::newRow("Cancel drops it") << 1 << true << true << int(By::ViewMenu);
        QTest::newRow("Escape drops it") << 2 << false << false << int(By::Hotkey);
        QTest::newRow("title bar drops it") << 3 << true << false << int(By::OptionsButton);
    }
    void everyWayOfClosing()
    {
        QFETCH(int, way);
        QFETCH(bool, monitoring);
        QFETCH(bool, storedRps);
        QFETCH(int, openedBy);
        const std::vector<int> free = Loopback::freePorts(5);
        Rig rig({ QString("Advance/RPS=%1").arg(storedRps), "UDP Ports/Number=1", "UDP Ports/0=137",
            "UDP Ports/1=138", QString("Ports/0=%1").arg(free[0]), QString("Ports/1=%1").arg(free[1]),
            QString("Ports/2=%1").arg(free[2]) });
        if (monitoring)
            rig.monitoring.toggleMonitoring();
        const QString log = rig.folder.filePath("Log.txt");
        QVERIFY(writeFile(log, "entry\r\n"));
        QVERIFY(rig.open(OptionsOpenedBy(openedBy)) && !Loopback::isListening(free[1]));
        const QStringList before = rig.controls();
        const QByteArray file = rig.file();
        const auto enabled = [&rig] {
            QString flags;
            const QString names = "runFileEdit browseButton0 readLogButton purgeLogButton attackRunFileEdit "
                                  "browseButton1 soundsGroup soundFileEdit0 soundFileEdit1 soundFileEdit2 "
                                  "soundFileEdit3 browseButton2 browseButton3 browseButton4 browseButton5 "
                                  "chatServiceEdit";
            for (const QString& name : names.split(' '))
                flags += rig.named<QWidget>(name)->isEnabled() ? '1' : '0';
            return flags;
        };
        const QString storedFlags = "0011000000000000", editedFlags = "1100111111111111";
        QCOMPARE(enabled(), storedFlags);
        rig.named<QPushButton>("purgeLogButton")->click();
        QVERIFY(!QFile::exists(log));
        rig.controls(true);
        for (const char* name : { "collectorEdit", "pushUrlBox" }) // "x" is no address: OK would refuse it
            QTest::keyClick(rig.named<QLineEdit>(name), Qt::Key_Backspace);
        rig.click({ "browseButton0", "browseButton1", "browseButton2", "browseButton4" },
            { "/tmp/it's \"q\"\\x", "/opt/My Tools/alarm", "", "/snd/My Alarm.wav" });
        rig.click({ "&Remove Port", "&Add Port", "&Add Port", "Re&move Address", "A&dd Address",
                      "A&dd Address", "A&dd Address", "A&dd Address" },
            { QString(" %1 ").arg(free[3]), QString::number(free[4]), " 198.51.100.7 ", "198.51.100.7",
                "backup.lan", "" });
        QCOMPARE(rig.named<QLabel>("allowError")->text(), "\"backup.lan\": not an IPv4 or IPv6 address");
        rig.click({ "Remo&ve UDP Port", "Add &UDP Port", "Add &UDP Port", "Add &UDP Port" }, { " 53 ", "x", "" });
        const QStringList edited = rig.controls();
        int changed = 0;
        for (int i = 0; i < before.size() && edited.size() == before.size(); ++i)
            changed += before.at(i) != edited.at(i);
        // 23 check boxes, the two On/Off pairs, nine text boxes, six spin boxes, three ports, the address,
        // two UDP ports.
        QCOMPARE(changed, 48);
        QCOMPARE(enabled(), editedFlags);
        QCOMPARE(rig.options.ports().join(' '), QString("%1 %2 %3").arg(free[1]).arg(free[3]).arg(free[4]));
        // A program is quoted so that it runs as the one word chosen (a shell's quoting, read back by the
        // command line splitter); a sound file is kept as chosen.
        for (const char* shown : { "runFileEdit=\"/tmp/it's \\\"q\\\"\\\\x\"",
                 "attackRunFileEdit=\"/opt/My Tools/alarm\"", "soundFileEdit0=NetOn.wavx",
                 "soundFileEdit2=/snd/My Alarm.wav" })
            QVERIFY2(edited.contains(shown), shown);
        QCOMPARE(rig.file(), file);

        if (way <= 1)
            QTest::mouseClick(way == 0 ? rig.dialog.okButton() : rig.dialog.cancelButton(), Qt::LeftButton);
        else
            way == 2 ? QTest::keyClick(&rig.dialog, Qt::Key_Escape) : (void)rig.dialog.close();
        QVERIFY(!rig.dialog.isVisible() && !QFile::exists(log) && (way == 0 || rig.file() == file));
        const QString paused = monitoring ? "Paused while Options is open.|" : "";
        const QString back = monitoring ? "|Loading.." : "";
        const QString hotkeys = openedBy == int(OptionsOpenedBy::ViewMenu) ? "" : "|hotkeys unload";
        QCOMPARE(rig.calls.join('|'), paused + "disable" + hotkeys + "|netcheck off|reapply|enable" + back);
        QCOMPARE(Loopback::isListening(free[1]), monitoring);
        QCOMPARE(rig.monitoring.sentinel().isLoaded(), monitoring && storedRps != (way == 0));
        const QStringList shown = way == 0 ? edited : before;
        QCOMPARE(rig.controls(), shown);
        QCOMPARE(enabled(), way == 0 ? editedFlags : storedFlags);
        QVERIFY(rig.open());
        QCOMPARE(rig.controls(), shown);
        QVERIFY(way != 0 || rig.settings.settings().detection.udpPorts == QStringList({ "138", "53" }));
    }

    // The pages stack with the first on top; a label shows its page, and is bold and underlined while
    // the pointer is over it, also when the dialog opens again. A right click on the hotkeys box gives
    // its help and leaves the box as it was.
    void pagesLabelsKeysAndHotkeyHelp()
    {
        Rig rig;
        QVERIFY(rig.open());
        OptionsDialog& dialog = rig.dialog;
        QCOMPARE(dialog.pageLabel(4)->text() + dialog.page(4)->findChild<QLabel*>("pageTitle")->text(),
            "AlarmAlarm Settings");
        // The pages shown, then each label's look (1: bold, 2: underlined) once the pointer moved.
        const auto look = [&dialog](QWidget* over = nullptr) {
            QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, {});
            if (over)
                QApplication::sendEvent(over, &move);
            QString pages, fonts;
            for (int i = 0; i < OptionsDialog::pageCount(); ++i) {
                pages += dialog.page(i)->isVisible() ? QString::number(i) : QString();
                fonts += QString::number(
                    dialog.pageLabel(i)->font().bold() + 2 * dialog.pageLabel(i)->font().underline());
            }
            return pages + ' ' + fonts;
        };
        QCOMPARE(look(), "0 00000000");
        QVERIFY(dialog.page(0)->isAncestorOf(dialog.childAt(dialog.page(0)->geometry().center())));
        QTest::mouseClick(dialog.pageLabel(2), Qt::LeftButton);
        QCOMPARE(look(dialog.pageLabel(1)), "2 03000000");
        QCOMPARE(look(dialog.page(2)), "2 00000000"); // the frame's own border
        QCOMPARE(look(dialog.pageLabel(3)), "2 00030000");
        dialog.cancelButton()->click();
        QVERIFY(rig.open());
        QCOMPARE(look(), "0 00000000");

        // The keyboard changes pages as in any tabbed dialog, and the row announces the page (Ctrl+Shift+Tab
        // and the access keys: the X11 session, since only a real keyboard sends them as users press them).
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        PageLabelRow* row = dialog.pageLabelRow();
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        using Key = std::tuple<QWidget*, Qt::Key, Qt::KeyboardModifiers, int>;
        const Key keys[] { { &dialog, Qt::Key_Tab, ctrl, 1 }, { &dialog, Qt::Key_PageDown, ctrl, 2 },
            { &dialog, Qt::Key_PageUp, ctrl, 1 }, { &dialog, Qt::Key_PageUp, ctrl, 0 },
            { &dialog, Qt::Key_PageUp, ctrl, 7 }, { &dialog, Qt::Key_Tab, ctrl, 0 },
            { row, Qt::Key_Left, {}, 7 }, { row, Qt::Key_Right, {}, 0 }, { row, Qt::Key_End, {}, 7 },
            { row, Qt::Key_Home, {}, 0 } };
        for (const auto& [target, key, modifiers, page] : keys) {
            QTest::keyClick(target, key, modifiers);
            QVERIFY(dialog.page(page)->isVisible() && row->current() == page);
            QCOMPARE(row->accessibleName(), dialog.pageLabel(page)->text() + " page");
            // The page's label is marked by a bar in the colour of the page's title bar.
            const QRect under = dialog.pageLabel(page)->geometry();
            QCOMPARE(row->grab().toImage().pixelColor(under.center().x(), under.bottom() + 2),
                row->palette().color(QPalette::Highlight));
        }

        QTest::mouseClick(dialog.pageLabel(1), Qt::LeftButton);
        auto* hotkeys = dialog.page(1)->findChildren<QCheckBox*>().at(3);
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

    // From the keyboard, each field says what is wrong with it, as the allow list does. "Add Port" (TCP and
    // UDP) takes blanks around, halves to the even neighbour, the int range, the locale's decimal mark; it
    // refuses other text and a port already listed. Beside the port list, the entries no listener can
    // take; a new port is scrolled into view. OK stores nothing while the collector or the push URL would
    // not be used: its page comes forward, the field focused; "Send test" sends nothing to such a URL.
    void fieldChecksFromTheKeyboard()
    {
        Rig rig({ "Ports/Number=11", "UDP Ports/Number=0", "UDP Ports/0=137" }); // first-start TCP ports
        QVERIFY(rig.open() && QTest::qWaitForWindowActive(&rig.dialog));
        const auto key = [&rig](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::AltModifier) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            // A button's access key clicks it a moment later.
            const auto buttons = rig.dialog.findChildren<QPushButton*>();
            QTRY_VERIFY(std::none_of(buttons.begin(), buttons.end(), [](auto* b) { return b->isDown(); }));
        };
        QLocale::setDefault(QLocale::c());
        // Page (Alt+4: TCP, Alt+6: UDP), typed, why refused ("": not a port number).
        const std::tuple<int, const char*, const char*> ports[] { { 4, " 70000 ", nullptr },
            { 4, "-1", nullptr }, { 4, "65535", nullptr }, { 4, "80.5", "\"80\": already in the list" },
            { 4, "81.5", nullptr }, { 4, "2147483647", nullptr }, { 4, "-2147483648", nullptr },
            { 4, "2147483648", "" }, { 4, "2147483647.5", "" }, { 4, "80abc", "" }, { 4, "inf", "" },
            { 4, "nan", "" }, { 4, " 21 ", "\"21\": already in the list" },
            { 4, "82", "\"82\": already in the list" }, { 6, "137.0", "\"137\": already in the list" },
            { 6, "abc", "" }, { 6, "138", nullptr } };
        for (const auto& [page, typed, problem] : ports) {
            rig.answers = { typed };
            key(Qt::Key(Qt::Key_0 + page));
            key(page == 4 ? Qt::Key_A : Qt::Key_U);
            const QString shown = rig.named<QLabel>(page == 4 ? "portError" : "udpPortError")->text();
            QCOMPARE(shown, problem && !*problem ? QString("\"%1\": not a port number").arg(typed) : problem);
        }
        QCOMPARE(rig.options.ports().mid(12),
            QStringList({ "70000", "-1", "65535", "82", "2147483647", "-2147483648" }));
        QCOMPARE(rig.options.values().detection.udpPorts, QStringList({ "137", "138" }));
        QCOMPARE(rig.named<QLabel>("unguardedNote")->text(),
            "Not guarded, outside 1-65535: 70000, -1, 2147483647, -2147483648");
        QCOMPARE(::portEntry("80,5", QLocale(QLocale::German)).value_or(QString()), QString("80"));
        auto* list = rig.dialog.page(3)->findChild<QListWidget*>();
        QVERIFY(list->visualItemRect(list->item(list->count() - 1)).bottom() <= list->viewport()->height());

        // Typed into the collector (page 4) or the push URL (6), left for page 1, where OK refuses it.
        const char* notWeb = "not an http or https address, e.g. https://ntfy.sh/my-topic";
        const std::tuple<int, const char*, const char*> fields[] { { 4, "loghost", "not host:port" },
            { 4, "loghost:99999", "the port must be a number from 1 to 65535" },
            { 4, "2001:db8::1:514", "an IPv6 address goes in brackets, e.g. [2001:db8::1]:514" },
            { 4, "[2001:db8::1]:514", nullptr }, { 6, "ntfy.sh/alerts", notWeb }, { 6, "https://", notWeb },
            { 6, "ftp://192.0.2.1/x", notWeb }, { 6, "", nullptr } };
        rig.named<QComboBox>("pushServiceBox")->setCurrentText("ntfy");
        static_cast<PushPage*>(rig.dialog.page(6))->setTestPush([](auto&, auto done) { done("sent"); });
        for (const auto& [page, typed, reason] : fields) {
            auto* field = rig.named<QLineEdit>(page == 4 ? "collectorEdit" : "pushUrlBox");
            key(Qt::Key(Qt::Key_1 + page));
            field->setFocus();
            key(Qt::Key_A, Qt::ControlModifier);
            key(Qt::Key_Backspace, {});
            QTest::keyClicks(field, typed);
            if (page == 6)
                key(Qt::Key_T); // Send test
            QCOMPARE(rig.named<QLabel>("pushTestResult")->text().isEmpty(), page != 6 || reason);
            key(Qt::Key_1);
            QCOMPARE(rig.named<QLabel>(page == 4 ? "collectorError" : "pushUrlError")->text(),
                reason ? QString("\"%1\": %2").arg(typed, reason) : QString());
            if (reason) {
                key(Qt::Key_Return, {});
                QVERIFY(rig.dialog.isVisible() && rig.dialog.page(page)->isVisible());
                QCOMPARE(QApplication::focusWidget(), field);
            }
        }
        key(Qt::Key_Return, {});
        QVERIFY(!rig.dialog.isVisible() && rig.file().contains("Collector=[2001:db8::1]:514\n"));
    }

    // The Blocking page lists what the firewall blocks, with the time left and the attempts stopped; it
    // asks the firewall again whenever it is shown, and unblocks the selected addresses at once.
    // The Push section joins the store with no service; "Send test" pushes with the page's values before
    // OK, through a delivery configured for none; OK stores them in the settings file, which nobody else
    // may read.
    void blockedListAndPushPage()
    {
        Rig rig;
        LocalHttpServer server;
        QVERIFY(rig.file().contains("[Push]\nService=none\nToken=\nURL=\n"));
        QStringList asked;
        const QList<BlockingPage::Blocked> blocked { { "192.0.2.2", 3661, 0 }, { "2001:db8::2", 61, 3 },
            { "192.0.2.9", 59, 1 } };
        auto* page = static_cast<BlockingPage*>(rig.dialog.page(7));
        page->setBlockedList({ [&blocked] { return blocked; },
            [&asked](const QString& address) { asked << address; }, [&asked] { asked << "refresh"; } });
        QVERIFY(rig.open());
        QTest::mouseClick(rig.dialog.pageLabel(7), Qt::LeftButton);
        auto* list = rig.named<QListWidget>("blockedList");
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->item(i)->text();
        QCOMPARE(shown.join('|'),
            "192.0.2.2    1 h 1 min left|2001:db8::2    2 min left, 3 attempts stopped|"
            "192.0.2.9    59 s left, 1 attempts stopped");
        list->item(1)->setSelected(true);
        list->item(2)->setSelected(true);
        rig.click({ "&Unblock" }, {});
        QCOMPARE(asked, QStringList({ "refresh", "2001:db8::2", "192.0.2.9" }));

        auto* push = static_cast<PushPage*>(rig.dialog.page(6));
        PushDelivery delivery(rig.out);
        push->setTestPush(std::bind_front(&PushDelivery::sendTest, &delivery));
        rig.named<QComboBox>("pushServiceBox")->setCurrentText("ntfy");
        QTest::keyClicks(rig.named<QLineEdit>("pushUrlBox"), server.url("/desk"));
        QTest::keyClicks(rig.named<QLineEdit>("pushTokenBox"), "tk_9");
        server.script = { 401 };
        for (const char* result :
            { "Test push failed: server replied 401 Unauthorized", "Test push delivered." }) {
            push->testButton()->click();
            QTRY_COMPARE(push->testResult()->text(), result);
        }
        QVERIFY(server.requests[1].startsWith("POST /desk\nTitle: Sentrel Test\nPriority: 3\nAuthorization: Bearer"));
        QTest::mouseClick(rig.dialog.okButton(), Qt::LeftButton);
        QVERIFY(rig.file().contains("[Push]\nService=ntfy\nToken=tk_9\nURL=" + server.url("/desk").toUtf8()));
        QCOMPARE(QFile(rig.store.path()).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
    }
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_OptionsDialog.moc"
