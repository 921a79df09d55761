#include "AlarmPage.h"
#include "FrmOptions.h"
#include "OptionsCommands.h"
#include "OptionsRig.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

namespace {
constexpr int AlarmPageIndex = 4;

// The dialog over the cycle rig, showing its fifth page.
struct AlarmRig : CycleRig
{
    AlarmRig()
        : CycleRig({ "21" })
    {
        page()->setAsk([this] { return answers.isEmpty() ? QString() : answers.takeFirst(); });
    }
    AlarmPage* page() const { return static_cast<AlarmPage*>(dialog.page(AlarmPageIndex)); }
    template <typename T> T* find(const QString& text) const
    {
        for (auto* w : page()->findChildren<T*>())
            if (w->text() == text)
                return w;
        return nullptr;
    }
    QStringList allowList() const
    {
        QStringList items;
        auto* list = page()->findChild<QListWidget*>();
        for (int i = 0; i < list->count(); ++i)
            items << list->item(i)->text();
        return items;
    }
    // The file without the sections this page writes.
    QByteArray originalKeys() const
    {
        QByteArray text = file();
        for (const char* section : { "[Alarm]\n", "[Events]\n" }) {
            const qsizetype start = text.indexOf(section);
            const qsizetype end = text.indexOf("\n[", start);
            if (start >= 0)
                text.remove(start, (end < 0 ? text.size() : end + 1) - start);
        }
        return text;
    }

    OptionsCommands commands { options, {} };
    FrmOptions dialog { options, cycle, commands, alarm };
    QStringList answers;
};
} // namespace

class TestAlarmPage : public QObject
{
    Q_OBJECT

private slots:
    void addRefusesInvalidEntriesSayingWhy_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("message");
        const auto row
            = [](const char* name, const QStringList& answers, const QStringList& listed,
                  const char* message) { QTest::newRow(name) << answers << listed << QString(message); };
        row("address and range", { "192.168.1.10", " 10.0.0.0/8 " }, { "192.168.1.10", "10.0.0.0/8" }, "");
        row("twice is once", { "fd00::/8", "fd00::/8" }, { "fd00::/8" }, "");
        row("not an address", { "backup.lan" }, {}, "\"backup.lan\": not an IPv4 or IPv6 address");
        row("bad prefix after a good one", { "10.0.0.1", "10.0.0.0/40" }, { "10.0.0.1" },
            "\"10.0.0.0/40\": prefix length must be 0 to 32");
        row("cancelled prompt", { "" }, {}, "");
    }
    void addRefusesInvalidEntriesSayingWhy()
    {
        QFETCH(QStringList, answers);
        QFETCH(QStringList, listed);
        QFETCH(QString, message);
        AlarmRig rig;
        rig.answers = answers;
        for (int i = 0; i < answers.size(); ++i)
            rig.find<QPushButton>("A&dd Address")->click();
        QCOMPARE(rig.allowList(), listed);
        QCOMPARE(rig.page()->findChild<QLabel*>("lblAllowError")->text(), message);
    }

    // The fifth page, after the other four: nothing is written before OK, Cancel forgets every
    // edit, and OK writes the page's own sections only.
    void pendingUntilOkAndSavedInItsOwnSection()
    {
        AlarmRig rig;
        QCOMPARE(FrmOptions::pageCount(), 5);
        QCOMPARE(rig.dialog.pageLabel(AlarmPageIndex)->text(), QString("Alarm"));
        QCOMPARE(rig.page()->findChild<QLabel*>("pageTitle")->text(), QString("Alarm Settings"));
        const QByteArray stored = rig.file();
        const QByteArray original = rig.originalKeys();
        const auto edit = [&rig] {
            rig.open();
            rig.find<QCheckBox>("&One alarm per scan")->click();
            rig.find<QCheckBox>("Desktop &notifications")->click();
            rig.page()->findChild<QSpinBox*>("spnGap")->setValue(15);
            rig.answers = QStringList { "10.0.0.0/8", "fd00::/8" };
            rig.find<QPushButton>("A&dd Address")->click();
            rig.find<QPushButton>("A&dd Address")->click();
            rig.page()->findChild<QListWidget*>()->item(0)->setSelected(true);
            rig.find<QPushButton>("Re&move Address")->click();
            rig.find<QCheckBox>("S&ystem log")->click();
        };

        edit();
        QCOMPARE(rig.file(), stored); // nothing is written before OK
        rig.dialog.cancelButton()->click();
        QCOMPARE(rig.file(), stored);
        QVERIFY(!rig.find<QCheckBox>("&One alarm per scan")->isChecked());
        QCOMPARE(rig.allowList(), QStringList {});
        QCOMPARE(rig.page()->findChild<QSpinBox*>("spnGap")->value(), 60);

        edit();
        rig.dialog.okButton()->click();
        const AlarmSettings saved = AlarmSettings::load(rig.store.store());
        QVERIFY(saved.oneAlarmPerScan && !saved.notifications);
        QCOMPARE(saved.scanGapSeconds, 15);
        QCOMPARE(saved.allow, QString("fd00::/8"));
        QVERIFY(!EventSettings::load(rig.store.store()).syslog);
        QCOMPARE(rig.originalKeys(), original); // the original keys, byte for byte
        QCOMPARE(rig.allowList(), QStringList { "fd00::/8" });
    }
};

QTEST_MAIN(TestAlarmPage)
#include "tst_AlarmPage.moc"
