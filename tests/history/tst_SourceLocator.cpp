#include "SourceLocation.h"

#include "TestFiles.h"

#include <QTemporaryDir>

class tst_SourceLocator : public QObject
{
    Q_OBJECT

private slots:
    // Public resolvers and a root server whose networks have not moved in years, against the
    // database Debian ships: IPv4 (looked up in its mapped form), IPv6, and an address no network
    // announces. A file that is not a database, or none, gives no locator rather than a broken one.
    void locatesWellKnownAddressesInThePackagedDatabase()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("junk.db"), QByteArray(4096, 'x')));
        QVERIFY(!SourceLocator::open(dir.filePath("junk.db")));
        QVERIFY(!SourceLocator::open(dir.filePath("absent.db")));

        const auto locator = SourceLocator::open();
        if (!locator)
            QSKIP("no location database at /var/lib/location/database.db (Debian's libloc-database)");
        const struct
        {
            const char* address;
            const char* country;
            quint32 asn;
            const char* owner;
        } known[] = {
            { "8.8.8.8", "US", 15169, "GOOGLE" },
            { "9.9.9.9", "CH", 19281, "QUAD9-AS-1" },
            { "193.0.14.129", "NL", 25152, nullptr },
            { "2001:4860:4860::8888", "US", 15169, "GOOGLE" },
            { "2620:fe::fe", "US", 19281, "QUAD9-AS-1" },
            { "2001:7fd::1", "NL", 25152, nullptr },
            { "192.0.2.1", "", 0, "" },
            { "fc00::1", "", 0, "" },
        };
        for (const auto& row : known) {
            const SourceLocation found = locator->locate(*IpAddress::parse(QString::fromLatin1(row.address)));
            QCOMPARE(found.country, QString::fromLatin1(row.country));
            QCOMPARE(found.asn, row.asn);
            if (row.owner)
                QCOMPARE(found.owner, QString::fromLatin1(row.owner));
            else
                QVERIFY2(found.owner.contains("RIPE"), qPrintable(found.owner));
        }
        QCOMPARE(locator->locate(IpAddress()).asn, 0u);
    }
};

QTEST_GUILESS_MAIN(tst_SourceLocator)
#include "tst_SourceLocator.moc"
