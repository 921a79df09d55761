// A desktop notification server for the benchmark: takes the notification service's name on the
// session bus and writes one line per Notify call to the file given, so a run can count how many
// notifications a burst cost. Ends on SIGTERM.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QVariantMap>

#include <csignal>
#include <cstdio>

class Server : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Server(const QString& path)
        : m_file(path)
    {
        m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }

public slots:
    uint Notify(const QString&, uint replacesId, const QString&, const QString& summary, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        const uint id = replacesId ? replacesId : ++m_lastId;
        m_file.write(QStringLiteral("Notify %1 %2 | %3\n").arg(id).arg(summary, body.section('\n', 0, 0)).toUtf8());
        return id;
    }
    QStringList GetCapabilities() { return { QStringLiteral("body"), QStringLiteral("actions") }; }

private:
    QFile m_file;
    uint m_lastId = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: sentrel-fakenotifier <calls file>\n");
        return 2;
    }
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    Server server(QString::fromLocal8Bit(argv[1]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
            QDBusConnection::ExportAllSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "sentrel-fakenotifier: no session bus or the name is taken\n");
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "FakeNotifier.moc"
