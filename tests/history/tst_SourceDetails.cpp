#include "HistoryKinds.h"
#include "ReverseNames.h"
#include "SourceLocation.h"

#include <sched.h>
#include <unistd.h>

using namespace std::chrono_literals;

// Where a source is and what it calls itself, as its details show them.
class tst_SourceDetails : public QObject
{
    Q_OBJECT

private slots:
    // Public resolvers whose networks have not moved in years, against the database Debian ships:
    // IPv4 (looked up in its mapped form), IPv6, and addresses no network announces. A file that is
    // not a database, or none, gives no locator rather than a broken one.
    void locatesWellKnownAddressesInThePackagedDatabase()
    {
        QVERIFY(!SourceLocator::open("/etc/hosts") && !SourceLocator::open("/nonexistent/location.db"));
        const auto locator = SourceLocator::open();
        if (!locator)
            QSKIP("no location database at /var/lib/location/database.db (Debian's libloc-database)");
        const std::tuple<const char*, const char*, quint32, const char*> known[] {
            { "8.8.8.8", "US", 15169, "GOOGLE" }, { "9.9.9.9", "CH", 19281, "QUAD9-AS-1" },
            { "2001:4860:4860::8888", "US", 15169, "GOOGLE" }, { "2620:fe::fe", "US", 19281, "QUAD9-AS-1" },
            { "192.0.2.1", "", 0, "" }, { "fc00::1", "", 0, "" }
        };
        for (const auto& [address, country, asn, owner] : known) {
            const SourceLocation found = locator->locate(*IpAddress::parse(QString::fromLatin1(address)));
            QCOMPARE(std::tuple(found.country, found.asn, found.owner),
                std::tuple(QString(country), asn, QString(owner)));
        }
    }

    // Only loopback is ever resolved (127.0.0.1 is "localhost" in /etc/hosts); the documentation
    // addresses only fill the bounds and are dropped or switched off before their turn. As root,
    // the lookups get a network of their own, so that a broken bound cannot reach a resolver and a
    // name can be not found without asking one.
    void looksUpLoopbackWithinItsBounds()
    {
        const bool root = ::geteuid() == 0;
        QVERIFY(!root || ::unshare(CLONE_NEWNET) == 0);
        using O = ReverseNames::Origin;
        using A = ReverseNames::Answer;
        const IpAddress loopback = *IpAddress::parse(u"127.0.0.1"),
                        documentation = *IpAddress::parse(u"192.0.2.1");
        QCOMPARE(ReverseNames::originOf(HistoryKinds::of(Event::Detection::Connect) | HistoryKinds::Flood),
            O::Connected);
        QCOMPARE(ReverseNames::originOf(HistoryKinds::Spoofable | HistoryKinds::PortScan), O::SpoofableOnly);

        ReverseNames names({ .running = 1, .waiting = 1, .kept = root ? 1 : 4 });
        QSignalSpy found(&names, &ReverseNames::nameFound);
        QCOMPARE(names.lookUp(documentation, O::SpoofableOnly), A::Refused);
        for (int twice = 0; twice < 2; ++twice)
            QCOMPARE(names.lookUp(loopback, O::Connected), A::Pending);
        QCOMPARE(names.lookUp(documentation, O::SpoofableOnly, ReverseNames::Ask::Explicitly), A::Pending);
        QCOMPARE(names.lookUp(*IpAddress::parse(u"2001:db8::1"), O::Connected), A::Pending);
        QCOMPARE(std::tuple(names.running(), names.waiting(), names.dropped()), std::tuple(1, 1, 1u));
        names.setEnabled(false);
        QCOMPARE(std::tuple(names.running(), names.waiting(), names.lookUp(loopback, O::Connected)),
            std::tuple(1, 0, A::Off));
        QTRY_COMPARE_WITH_TIMEOUT(names.running(), 0, 10000);
        names.setEnabled(true);
        QCOMPARE(std::tuple(found.count(), names.lookUp(loopback, O::Connected)), std::tuple(0, A::Pending));
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 1, 10000);
        QCOMPARE(found.at(0).at(0).value<IpAddress>(), loopback);
        QCOMPARE(std::tuple(names.lookUp(loopback, O::SpoofableOnly), names.name(loopback)),
            std::tuple(A::Known, "localhost"));
        if (root) {
            QCOMPARE(names.lookUp(documentation, O::Connected), A::Pending);
            QTRY_COMPARE_WITH_TIMEOUT(found.count(), 2, 10000);
            QCOMPARE(std::tuple(names.name(documentation), names.name(loopback)),
                std::tuple(QString(), std::nullopt));
        }
        names.setEnabled(false);
        QCOMPARE(names.kept(), 0);

        ReverseNames fleeting({ .timeToLive = 0ms });
        QCOMPARE(fleeting.lookUp(loopback, O::Connected), A::Pending);
        QTRY_COMPARE_WITH_TIMEOUT(fleeting.running(), 0, 10000);
        QCOMPARE(std::tuple(fleeting.name(loopback), fleeting.lookUp(loopback, O::Connected)),
            std::tuple(std::nullopt, A::Pending));
    }
};

QTEST_GUILESS_MAIN(tst_SourceDetails)
#include "tst_SourceDetails.moc"
