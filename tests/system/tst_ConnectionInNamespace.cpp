#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

// The real program in a network namespace of its own, where a default route over a virtual
// Ethernet pair comes and goes: the connection watch must tell both changes.
class TestConnectionInNamespace : public QObject
{
    Q_OBJECT

private slots:
    void routeUpThenDownIsDetectedThenDisconnected()
    {
        // Root makes a network namespace directly; elsewhere a user namespace may grant the same.
        QStringList isolation;
        for (const QString flags : { "-n", "-rn" })
            if (isolation.isEmpty()
                && QProcess::execute(
                       "unshare", { flags, "ip", "link", "add", "t0", "type", "veth", "peer", "name", "t1" })
                    == 0)
                isolation = QStringList { "unshare", flags };
        if (isolation.isEmpty())
            QSKIP("needs ip (iproute2) and root, or user namespaces, to make a network namespace with a "
                  "virtual link");

        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            env.remove(name);
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("SENTREL", SENTREL_BINARY);
        // The program (first start: sounds on, so the watch runs) reads the steps of the route
        // from the test through the shell's standard input.
        const QString script = QStringLiteral(R"(
            set -e
            ip link add sentrel0 type veth peer name sentrel1
            ip link set sentrel0 up
            ip link set sentrel1 up
            PATH=/nonexistent "$SENTREL" </dev/null &
            program=$!
            while read -r step; do
                ip route $step default dev sentrel0
            done
            kill $program
            wait $program
        )");
        QProcess shell;
        shell.setProcessEnvironment(env);
        shell.start(isolation.first(), isolation.mid(1) + QStringList { "sh", "-c", script });
        QVERIFY(shell.waitForStarted(5000));
        // However the test ends, the end of the steps stops the program inside the namespace.
        const auto finish = qScopeGuard([&] {
            shell.closeWriteChannel();
            shell.waitForFinished(10000);
        });
        QByteArray out;
        const auto waitFor = [&](const QByteArray& text) {
            QDeadlineTimer deadline(25000); // the watch looks every 7 s
            while (!out.contains(text) && !deadline.hasExpired() && shell.state() == QProcess::Running) {
                shell.waitForReadyRead(200);
                out += shell.readAllStandardOutput();
            }
            return out.contains(text);
        };
        QVERIFY2(waitFor("Ready.\n"), out.constData());
        shell.write("add\n");
        QVERIFY2(waitFor("Net Detected.\n"), out.constData());
        shell.write("del\n");
        QVERIFY2(waitFor("Net Disconnected.\n"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestConnectionInNamespace)
#include "tst_ConnectionInNamespace.moc"
