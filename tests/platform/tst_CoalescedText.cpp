#include "CoalescedText.h"

#include <QSignalSpy>
#include <QtTest>

class tst_CoalescedText : public QObject
{
    Q_OBJECT

private slots:
    // A flood: the first text goes out on the next pass, the rest wait for the interval and only
    // the newest of them is sent; nothing is lost at the end of the flood.
    void floodSendsFirstThenNewestPerInterval()
    {
        CoalescedText text(QStringLiteral("Loading.."), 200);
        QSignalSpy spy(&text, &CoalescedText::changed);
        text.set(QStringLiteral("line 0"));
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
        for (int i = 1; i <= 1000; ++i)
            text.set(QStringLiteral("line %1").arg(i));
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(text.shown(), QStringLiteral("line 0"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 2000);
        QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("line 1000"));
        QCOMPARE(text.shown(), QStringLiteral("line 1000"));
        QVERIFY(!text.isPending());
    }

    // A text equal to the one shown sends nothing: set again while idle, or changed and changed
    // back before the interval ran out.
    void unchangedTextIsNotSentAgain()
    {
        CoalescedText text(QStringLiteral("Protecting.."), 50);
        QSignalSpy spy(&text, &CoalescedText::changed);
        text.set(QStringLiteral("Protecting.."));
        QVERIFY(!text.isPending());
        text.set(QStringLiteral("Intrusion"));
        text.set(QStringLiteral("Protecting.."));
        QTest::qWait(120);
        QCOMPARE(spy.count(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_CoalescedText)
#include "tst_CoalescedText.moc"
