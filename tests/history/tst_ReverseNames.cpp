#include "HistoryKinds.h"
#include "ReverseNames.h"

#include <sched.h>
#include <unistd.h>

using namespace std::chrono_literals;

class tst_ReverseNames : public QObject
{
    Q_OBJECT

private slots:
    // Only loopback is ever resolved (127.0.0.1 is "localhost" in /etc/hosts); the documentation
    // addresses only fill the bounds and are dropped or switched off before their turn. As root,
    // the lookups also get a network of their own, so that a broken bound cannot reach a resolver.
    void looksUpLoopbackWithinItsBounds()
    {
        if (::geteuid() == 0)
            QVERIFY(::unshare(CLONE_NEWNET) == 0);
        using O = ReverseNames::Origin;
        using A = ReverseNames::Answer;
        const IpAddress loopback = *IpAddress::parse(u"127.0.0.1");
        const IpAddress first = *IpAddress::parse(u"192.0.2.1");
        const IpAddress second = *IpAddress::parse(u"2001:db8::1");
        QCOMPARE(ReverseNames::originOf(HistoryKinds::of(Event::Detection::Connect) | HistoryKinds::PortScan),
            O::Connected);
        QCOMPARE(ReverseNames::originOf(HistoryKinds::Spoofable | HistoryKinds::Flood), O::SpoofableOnly);

        ReverseNames names({ .running = 1, .waiting = 1, .kept = 4, .timeToLive = 1h });
        QSignalSpy found(&names, &ReverseNames::nameFound);
        QCOMPARE(names.lookUp(first, O::SpoofableOnly), A::Refused);
        QCOMPARE(names.lookUp(loopback, O::Connected), A::Pending);
        QCOMPARE(names.lookUp(loopback, O::Connected), A::Pending);
        QCOMPARE(names.lookUp(first, O::SpoofableOnly, ReverseNames::Ask::Explicitly), A::Pending);
        QCOMPARE(names.lookUp(second, O::Connected), A::Pending);
        QCOMPARE(std::tuple(names.running(), names.waiting(), names.dropped()), std::tuple(1, 1, quint64(1)));
        names.setEnabled(false);
        QCOMPARE(std::tuple(names.running(), names.waiting()), std::tuple(0, 0));
        QCOMPARE(names.lookUp(loopback, O::Connected), A::Off);
        QTest::qWait(100);
        QCOMPARE(found.count(), 0);

        names.setEnabled(true);
        QCOMPARE(names.lookUp(loopback, O::Connected), A::Pending);
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
        QCOMPARE(found.at(0).at(0).value<IpAddress>(), loopback);
        QCOMPARE(found.at(0).at(1).toString(), QStringLiteral("localhost"));
        QCOMPARE(names.lookUp(loopback, O::SpoofableOnly), A::Known);
        QCOMPARE(names.name(loopback), QStringLiteral("localhost"));
        QCOMPARE(std::tuple(names.running(), names.kept()), std::tuple(0, 1));
        names.setEnabled(false);
        QCOMPARE(names.name(loopback), std::nullopt);

        ReverseNames fleeting({ .timeToLive = 0ms });
        QSignalSpy fleetingFound(&fleeting, &ReverseNames::nameFound);
        QCOMPARE(fleeting.lookUp(loopback, O::Connected), A::Pending);
        QTRY_COMPARE_WITH_TIMEOUT(fleetingFound.count(), 1, 10000);
        QCOMPARE(fleeting.name(loopback), std::nullopt);
        QCOMPARE(fleeting.lookUp(loopback, O::Connected), A::Pending);
    }
};

QTEST_GUILESS_MAIN(tst_ReverseNames)
#include "tst_ReverseNames.moc"
