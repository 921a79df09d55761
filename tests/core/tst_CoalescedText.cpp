#include "CoalescedText.h"

class tst_CoalescedText : public QObject
{
    Q_OBJECT

private slots:
    // A flood: the first text goes out on the next pass, the rest wait for the interval and only
    // the newest of them is sent. A text equal to the one shown sends nothing: set again while
    // idle, or changed and changed back before the interval ran out. Texts that keep coming for longer
    // than the interval still go out once per interval, not only when they stop.
    void floodSendsFirstThenNewestPerInterval()
    {
        CoalescedText text(QStringLiteral("Loading.."), 200);
        QSignalSpy spy(&text, &CoalescedText::changed);
        text.set(QStringLiteral("Loading.."));
        QVERIFY(!text.isPending());
        text.set(QStringLiteral("line 0"));
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
        for (int i = 1; i <= 1000; ++i)
            text.set(QStringLiteral("line %1").arg(i));
        QCoreApplication::processEvents();
        QCOMPARE(text.shown(), QStringLiteral("line 0"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 2000);
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("line 1000"));
        text.set(QStringLiteral("Intrusion"));
        text.set(QStringLiteral("line 1000"));
        QTest::qWait(400);
        QCOMPARE(spy.count(), 2);
        for (int i = 0; i < 8; ++i, QTest::qWait(50))
            text.set(QString::number(i));
        QVERIFY(spy.count() >= 4);
    }
};

QTEST_GUILESS_MAIN(tst_CoalescedText)
#include "tst_CoalescedText.moc"
