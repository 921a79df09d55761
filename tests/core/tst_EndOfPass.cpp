#include "EndOfPass.h"

class tst_EndOfPass : public QObject
{
    Q_OBJECT

private slots:
    // Each flush runs once when the pass ends, in the order scheduled. One cancelled, destroyed, or
    // destroyed by an earlier flush of the same pass never runs. One scheduled while the flushes run
    // (by itself, too) waits for the next pass, unless it still waits for its turn in this one.
    void flushesRunOnceInOrderWhenThePassEnds()
    {
        QString ran;
        auto destroyedByB = std::make_unique<EndOfPass>([&] { ran += 'd'; });
        EndOfPass a([&] { ran += 'a'; });
        EndOfPass b([&] {
            ran += 'b';
            destroyedByB.reset();
            a.schedule();
            if (ran.size() == 1)
                b.schedule();
        });
        EndOfPass cancelled([&] { ran += 'c'; });
        auto destroyed = std::make_unique<EndOfPass>([&] { ran += 'x'; });
        for (EndOfPass* flush : { &b, &a, &b, &cancelled, destroyed.get(), destroyedByB.get() })
            flush->schedule();
        cancelled.cancel();
        destroyed.reset();
        QVERIFY(a.isScheduled() && !cancelled.isScheduled());
        QCOMPARE(ran, QString());
        QCoreApplication::processEvents();
        QCOMPARE(ran, "ba");
        QVERIFY(b.isScheduled() && !a.isScheduled());
        for (const char* after : { "bab", "baba", "baba" }) {
            QCoreApplication::processEvents();
            QCOMPARE(ran, after);
        }
    }
};

QTEST_GUILESS_MAIN(tst_EndOfPass)
#include "tst_EndOfPass.moc"
