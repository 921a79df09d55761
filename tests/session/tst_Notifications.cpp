#include "FreedesktopNotifications.h"
#include "IncidentNotifications.h"
#include "IntruderBlocker.h"
#include "IntrusionHandler.h"
#include "PrivateSessionBus.h"
#include "Recorder.h"
#include "StandInBlockHelper.h"

using namespace std::chrono_literals;

// A notification server on the test's bus: each Notify as "replaces_id|summary|body|actions", ids from 7.
class FakeServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList calls;
    uint nextId = 7;
    bool silent = false;

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap&, int)
    {
        if (silent)
            setDelayedReply(true);
        calls << QString("%1|%2|%3|%4").arg(replacesId).arg(summary, body, actions.join(','));
        return replacesId ? replacesId : nextId++;
    }
};

namespace {

// The intrusion handling as the program wires it, with the restores and the buttons pressed
// counted; a button acts only when acting. blockHelper: empty for none.
struct Rig
{
    explicit Rig(const QString& blockHelper)
        : firewall(blockHelper)
    {
        handler.addObserver(&incidents);
        incidents.setBlocker(&blocker);
        desktop.setExtraActions([this](quint64 key) { return incidents.actionsFor(key); },
            [this](quint64 key, const QString& action) {
                pressed << QString("%1 %2").arg(action).arg(key);
                if (acting)
                    incidents.act(key, action);
            });
    }
    void scan(const QString& address, std::initializer_list<int> ports,
        Event::Detection kind = Event::Detection::Connect)
    {
        for (int port : ports)
            handler.handleIntrusion(ip(address), port, 0, false, kind);
    }

    std::chrono::milliseconds now {};
    Recorder out;
    IntrusionHandler handler { out, out, [this] { return now; } };
    QList<quint64> restored;
    QStringList pressed;
    bool acting = false;
    FirewallBlocker firewall;
    IntruderBlocker blocker { firewall, out, out };
    FreedesktopNotifications desktop { [this](quint64 key) { restored << key; } };
    IncidentNotifications incidents { desktop, [this] { return now; } };
};

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    std::optional<QDBusConnection> m_serverBus;
    FakeServer m_server;
    int m_serverRuns = 0;
    QTemporaryDir m_dir;
    const QString m_blockHelper = m_dir.filePath("sentrel-block");

    bool serve(bool on)
    {
        const QString name = "org.freedesktop.Notifications";
        return on ? m_serverBus->registerService(name) : m_serverBus->unregisterService(name);
    }
    // The server as a new process would be: another connection, its ids counted from 7 again.
    bool startServer()
    {
        if (m_serverBus) {
            serve(false);
            QDBusConnection::disconnectFromBus(m_serverBus->name());
        }
        m_serverBus.emplace(
            QDBusConnection::connectToBus(m_bus->address(), QString("server%1").arg(++m_serverRuns)));
        m_server.nextId = 7;
        return m_serverBus->registerObject(
                   "/org/freedesktop/Notifications", &m_server, QDBusConnection::ExportAllSlots)
            && serve(true);
    }
    static void emitSignal(QDBusConnection bus, const char* name, const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
        signal.setArguments(arguments);
        bus.send(signal);
    }

private slots:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateSessionBus>();
        if (!m_bus->isRunning())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(startServer());
        QVERIFY(writeStandInBlockHelper(m_blockHelper));
    }
    void init()
    {
        m_server.calls.clear();
        m_server.nextId = 7;
    }

    // An incident is one notification updated in place; a click or Show restores the window, the second
    // button blocks the source, anything else does nothing; another source is another incident.
    void anIncidentIsOneNotificationUpdatedInPlaceAndShowsTheWindow()
    {
        Rig rig { m_blockHelper };
        rig.scan("10.0.0.5", { 21, 23, 25, 53, 70, 79, 80, 137, 138, 139, 12345, 12346 });
        QTRY_COMPARE_WITH_TIMEOUT(m_server.calls.size(), 2, 3000);
        QTRY_COMPARE(rig.desktop.inFlightCount(), 0); // the replies with the id reached the notifier
        const QString actions = "|default,Show,show,Show,block,Block for 1 hour",
                      connection = "\nCompleted connection";
        QCOMPARE(m_server.calls, // the first creates, the burst waits for its id, then one update
            QStringList({ "0|Intruder Detected|IP: 10.0.0.5 Port: 21" + connection + actions,
                "7|Intruder Detected|IP: 10.0.0.5 Port: 12346" + connection
                    + "\n12 ports so far: 21, 23, 25, 53, 70, 79, 80, 137, 138, 139, 12345, 12346"
                    + actions }));
        for (const auto& [id, action] : { std::pair { 1000u, "default" }, { 7u, "dismiss" }, { 7u, "show" },
                 { 7u, "default" }, { 7u, "block" }, { 7u, "unblock" }, { 1000u, "block" } })
            emitSignal(*m_serverBus, "ActionInvoked", { id, QString(action) });
        QTest::qWait(2 * FreedesktopNotifications::MinUpdateInterval); // and nothing more is sent
        rig.scan("2001:db8::9", { 22, 23 });
        QTRY_COMPARE_WITH_TIMEOUT(m_server.calls.mid(2),
            QStringList({ "0|Intruder Detected|IP: 2001:db8::9 Port: 22" + connection + actions,
                "8|Intruder Detected|IP: 2001:db8::9 Port: 23" + connection + "\n2 ports so far: 22, 23"
                    + actions }),
            3000);
        QTRY_COMPARE(rig.desktop.inFlightCount(), 0); // its reply comes after the actions' signals
        QCOMPARE(rig.restored, QList<quint64>({ 1, 1 }));
        QCOMPARE(rig.pressed, QStringList({ "block 1" })); // what was not offered is not taken
        QCOMPARE(rig.desktop.sentCount(), quint64(4));
    }

    // An id names a notification only while open on the server that gave it: after a restart an update
    // creates one rather than replacing another program's. Signals from others count for nothing.
    void idsAreForgottenWhenClosedOrWhenTheServerRestarts()
    {
        Rig rig { m_blockHelper };
        const auto calls = [&](qsizetype count) {
            (void)QTest::qWaitFor(
                [&] { return m_server.calls.size() >= count && rig.desktop.inFlightCount() == 0; });
            return m_server.calls.size() == count
                ? m_server.calls.last().section('\n', 0, 0).section('|', 0, 2)
                : QString("%1 calls").arg(m_server.calls.size());
        };
        rig.scan("203.0.113.1", { 21 });
        QCOMPARE(calls(1), "0|Intruder Detected|IP: 203.0.113.1 Port: 21"); // id 7
        rig.scan("203.0.113.2", { 22 });
        QCOMPARE(calls(2), "0|Intruder Detected|IP: 203.0.113.2 Port: 22"); // id 8
        QVERIFY(startServer());
        QCOMPARE(m_server.Notify("mail", 0, "", "New mail", "", {}, {}, -1), 7u); // another program's id 7
        QDBusConnection other = QDBusConnection::connectToBus(m_bus->address(), "other");
        rig.scan("203.0.113.1", { 23 });
        QCOMPARE(calls(4), "0|Intruder Detected|IP: 203.0.113.1 Port: 23"); // id 8
        rig.scan("203.0.113.2", { 24 });
        QCOMPARE(calls(5), "0|Intruder Detected|IP: 203.0.113.2 Port: 24"); // id 9
        emitSignal(*m_serverBus, "ActionInvoked", { 8u, "block" });
        emitSignal(other, "ActionInvoked", { 9u, "block" });
        emitSignal(*m_serverBus, "NotificationClosed", { 9u, 2u });
        emitSignal(*m_serverBus, "ActionInvoked", { 9u, "block" });
        QTest::qWait(FreedesktopNotifications::MinUpdateInterval);
        rig.scan("203.0.113.2", { 25 });
        QCOMPARE(calls(6).section('|', 0, 0), "0");
        QCOMPARE(rig.pressed, QStringList({ "block 1" }));
        QDBusConnection::disconnectFromBus("other");
    }

    // Each kind says what it was and whether the address may be forged, a UDP port says so; "Block" only
    // where a block could be had; a block, by the button or otherwise, and an unblock update it in place.
    void theKindAndTheBlockButton()
    {
        using D = Event::Detection;
        const QString block = "|block,Block for 1 hour", unblock = "|unblock,Unblock",
                      forged = ": the address may be forged";
        // The body and the buttons; blocked an hour from now, to the minute (either side of its turn).
        const auto lastCall = [&] {
            QString text = m_server.calls.value(m_server.calls.size() - 1)
                               .section('|', 2)
                               .remove(QRegularExpression("default,Show,show,Show,?"));
            for (int s : { 3600, 3540 })
                text.replace(QTime::currentTime().addSecs(s).toString("HH:mm"), "HH:MM");
            return text;
        };
        // Address, port, kind, the firewall helper, whether a block was asked for first, and what is shown.
        const QString helper = m_blockHelper, none, refusing = m_dir.filePath("absent");
        const std::tuple<const char*, int, D, QString, bool, QString> rows[] {
            { "198.51.100.1", 21, D::Connect, helper, false, "Port: 21\nCompleted connection" + block },
            { "198.51.100.2", 22, D::HalfOpen, helper, false,
                "Port: 22\nHalf-open SYN probe" + forged + block },
            { "2001:db8::3", 53, D::Udp, helper, false, "Port: 53/udp\nUDP datagram" + forged + block },
            { "127.0.0.1", 21, D::Connect, helper, false, "Port: 21\nCompleted connection|" },
            { "198.51.100.4", 21, D::Connect, none, false, "Port: 21\nCompleted connection|" },
            { "198.51.100.5", 21, D::Connect, refusing, true, "Port: 21\nCompleted connection|" },
            { "198.51.100.6", 21, D::Connect, helper, true,
                "Port: 21\nCompleted connection\nBlocked until HH:MM" + unblock },
        };
        for (const auto& [address, port, kind, firewall, blockFirst, expected] : rows) {
            Rig rig { firewall };
            if (blockFirst && rig.blocker.block(ip(address), 3600))
                QTRY_VERIFY(!rig.out.lines().isEmpty()); // blocked, or the helper could not
            rig.scan(address, { port }, kind);
            QTRY_COMPARE(lastCall(), QString("IP: ") + address + ' ' + expected);
        }
        Rig rig { m_blockHelper };
        rig.acting = true;
        rig.scan("198.51.100.9", { 21, 53 });
        rig.scan("198.51.100.9", { 53 }, D::Udp);
        const QString body
            = "IP: 198.51.100.9 Port: 53/udp\nUDP datagram" + forged + "\n3 ports so far: 21, 53, 53/udp";
        QTRY_COMPARE(lastCall(), body + block);
        const uint id = m_server.calls.last().section('|', 0, 0).toUInt();
        for (const auto& [action, expected] :
            { std::pair { "block", "\nBlocked until HH:MM" + unblock }, { "unblock", block } }) {
            QTRY_COMPARE(rig.desktop.inFlightCount(), 0);
            emitSignal(*m_serverBus, "ActionInvoked", { id, QString(action) });
            QTRY_COMPARE_WITH_TIMEOUT(lastCall(), body + expected, 3000);
        }
        // Closed, it stays closed when the block changes.
        const qsizetype calls = m_server.calls.size();
        emitSignal(*m_serverBus, "NotificationClosed", { id, 2u });
        QTRY_VERIFY(!rig.desktop.isOpen(1) && rig.blocker.block(ip("198.51.100.9"), 60));
        QTRY_VERIFY(rig.blocker.isBlocked(ip("198.51.100.9")));
        QTest::qWait(FreedesktopNotifications::MinUpdateInterval);
        QCOMPARE(m_server.calls.size(), calls);
    }

    // 500 sources in a second: a few get a notification each, the rest are counted in one more; a silent
    // server holds at most the cap of calls, and not for the bus's 25 s.
    void manySourcesAreFoldedAndBoundedInFlight()
    {
        for (const bool silent : { true, false }) {
            m_server.calls.clear();
            m_server.silent = silent;
            Rig rig { m_blockHelper };
            int peakInFlight = 0;
            const auto sources = [&](int from, int count) {
                for (int i = from; i < from + count; ++i) {
                    rig.now += 2ms;
                    rig.scan(QString("2001:db8::%1").arg(i, 0, 16), { 23 });
                    QCoreApplication::processEvents(); // replies and timers come in between
                    peakInFlight = std::max(peakInFlight, rig.desktop.inFlightCount());
                }
            };
            sources(1, 500);
            QVERIFY(peakInFlight <= FreedesktopNotifications::MaxInFlight);
            if (silent) {
                QTRY_COMPARE_WITH_TIMEOUT(rig.desktop.inFlightCount(), 0, 15000);
                QVERIFY(m_server.calls.size() <= FreedesktopNotifications::MaxInFlight);
                continue;
            }
            const auto settled = [&] {
                const QStringList more = m_server.calls.filter(" more source");
                return QString("%1 created, %2, %3 in flight")
                    .arg(m_server.calls.filter(QRegularExpression("^0\\|")).size())
                    .arg(more.value(more.size() - 1).section('|', 2, 2))
                    .arg(rig.desktop.inFlightCount());
            };
            QTRY_COMPARE_WITH_TIMEOUT(settled(), QString("6 created, 495 more sources, 0 in flight"), 15000);
            QVERIFY(m_server.calls.first().startsWith(
                "0|Intruder Detected|IP: 2001:db8::1 Port: 23\nCompleted connection|"));

            // A minute later the allowance is whole again, and the count starts anew.
            rig.now += 61s;
            sources(1000, IncidentNotifications::Burst + 1);
            QTRY_COMPARE_WITH_TIMEOUT(settled(), QString("11 created, 1 more source, 0 in flight"), 15000);
        }
    }

    void offOrWithoutAServerNothingHappens()
    {
        {
            Rig rig { m_blockHelper };
            rig.incidents.setEnabled(false);
            rig.scan("10.0.0.5", { 21 });
            QTest::qWait(200);
            QCOMPARE(m_server.calls, QStringList {});
        }
        QVERIFY(serve(false));
        QTest::failOnWarning(QRegularExpression(".*"));
        Rig rig { m_blockHelper };
        rig.scan("10.0.0.5", { 21 });
        QTest::qWait(300);
        rig.scan("10.0.0.6", { 21, 22 }); // a new incident: no new call until the retry interval
        QTest::qWait(300);
        QCOMPARE(rig.desktop.sentCount(), quint64(1));
        QVERIFY(serve(true));
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_Notifications.moc"
