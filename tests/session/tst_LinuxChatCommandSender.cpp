#include "LinuxChatCommandSender.h"
#include "PrivateSessionBus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// HOME, the XDG folders and the session bus are the test's own; the test object plays the chat client's
// remote-control object (a busy one never answers).
class TestLinuxChatCommandSender : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.hexchat.plugin")

    int makeFifo(const QString& name)
    {
        const QByteArray path = QFile::encodeName(m_home.filePath(name));
        QDir().mkpath(QFileInfo(path).path());
        ::mkfifo(path.constData(), 0600);
        return m_readers.emplace_back(::open(path.constData(), O_RDONLY | O_NONBLOCK));
    }
    static QByteArray readAll(int fd)
    {
        QByteArray data(1 << 17, '\0');
        return data.left(std::max<ssize_t>(::read(fd, data.data(), std::size_t(data.size())), 0));
    }
    bool runHexChat(bool on)
    {
        QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), "hexchat");
        return on ? bus.registerService("org.hexchat.service") : bus.unregisterService("org.hexchat.service");
    }

    const QByteArray m_line = "/Sentrel 10.0.0.5 23";
    QTemporaryDir m_home;
    PrivateSessionBus m_bus;
    QList<int> m_readers;
    LinuxChatCommandSender m_sender;
    QStringList m_hexChatCommands;
    bool m_hexChatBusy = false;

public:
    ~TestLinuxChatCommandSender() override { std::for_each(m_readers.begin(), m_readers.end(), ::close); }

public slots:
    Q_SCRIPTABLE void Command(const QString& command, const QDBusMessage& message)
    {
        m_hexChatCommands << command;
        message.setDelayedReply(m_hexChatBusy);
    }

private slots:
    void initTestCase()
    {
        QDBusConnection::connectToBus(m_bus.address(), "hexchat")
            .registerObject("/org/hexchat/Remote", this, QDBusConnection::ExportScriptableSlots);
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_home.filePath("run").toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
    }

    void fifoAndWeechatGetTheCommandAndNeverWait()
    {
        const int pipe = makeFifo("chat pipe");
        m_sender.sendCommand("FIFO:" + m_home.filePath("chat pipe"), m_line);
        m_sender.sendCommand("FIFO:" + m_home.filePath("chat pipe"), "/second");
        QCOMPARE(readAll(pipe), QByteArray()); // written once per event-loop pass, in order
        QTest::qWait(1);
        QCOMPARE(readAll(pipe), m_line + "\n/second\n");
        for (const char* fifo :
            { "run/weechat/weechat_fifo_42", "data/weechat/weechat_fifo_7", ".weechat/weechat_fifo" })
            QVERIFY(makeFifo(fifo) >= 0);
        m_sender.sendCommand("WeeChat", m_line);
        m_sender.sendCommand("fifo:", "/nowhere"); // no path: no pipe, and not WeeChat's either
        QTest::qWait(1);
        for (int reader : m_readers.mid(m_readers.indexOf(pipe) + 1))
            QCOMPARE(readAll(reader), '*' + m_line + '\n');

        // No reader, a full pipe or a plain file fail at once; only whole lines get through.
        const auto fifo = [this](const char* name) { return "fifo:" + m_home.filePath(name); };
        QVERIFY(::mkfifo(QFile::encodeName(m_home.filePath("stale")).constData(), 0600) == 0);
        const int full = makeFifo("full");
        QVERIFY(QFile(m_home.filePath("plain.txt")).open(QIODevice::WriteOnly));
        m_sender.sendCommand(fifo("stale"), m_line);
        m_sender.sendCommand(fifo("plain.txt"), m_line);
        for (int i = 0; i < 10000; ++i)
            m_sender.sendCommand(fifo("full"), m_line);
        QTest::qWait(1);
        QCOMPARE(QFileInfo(m_home.filePath("plain.txt")).size(), 0);
        const QList<QByteArray> lines = readAll(full).split('\n');
        QVERIFY(lines.size() > 100 && lines.size() < 10000);
        QCOMPARE(QSet<QByteArray>(lines.begin(), lines.end() - 1), QSet<QByteArray> { m_line });
    }

    // "hexchat" goes to HexChat only; any other name tries HexChat first and WeeChat when it fails.
    void hexChatGetsTheCommandWithoutItsSlashAndNeverQueues()
    {
        if (!m_bus.isRunning())
            QSKIP("dbus-daemon is not installed");
        const int weechat = makeFifo("data/weechat/weechat_fifo_5");
        QVERIFY(runHexChat(true));
        m_sender.sendCommand("HEXCHAT", m_line);
        m_sender.sendCommand("mIRC", m_line);
        QTRY_COMPARE(m_hexChatCommands, QStringList(2, "Sentrel 10.0.0.5 23"));
        QVERIFY(runHexChat(false));
        m_sender.sendCommand("hexchat", m_line);
        m_sender.sendCommand("mIRC", m_line); // HexChat gone: the bus answers with an error
        QByteArray received;
        QTRY_COMPARE(received += readAll(weechat), '*' + m_line + '\n');
        QTest::qWait(100);
        QCOMPARE(readAll(weechat), QByteArray());

        m_hexChatCommands.clear(); // one that stopped answering gets a bounded number of calls
        m_hexChatBusy = true;
        QVERIFY(runHexChat(true));
        for (int i = 0; i < 500; ++i)
            m_sender.sendCommand("hexchat", m_line);
        QTRY_COMPARE(m_hexChatCommands.size(), HexChatRemote::MaxPendingCalls);
        QTest::qWait(200);
        QCOMPARE(m_hexChatCommands.size(), HexChatRemote::MaxPendingCalls);
    }
};

QTEST_GUILESS_MAIN(TestLinuxChatCommandSender)
#include "tst_LinuxChatCommandSender.moc"
