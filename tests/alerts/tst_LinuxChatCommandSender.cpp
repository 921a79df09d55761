#include "FakeHexChat.h"
#include "LinuxChatCommandSender.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Message = QStringLiteral("/Sentrel 10.0.0.5 23");
}

// HOME and the XDG folders point into a temporary folder, and a private bus stands in for the
// session bus, so no chat client of the user's ever sees these commands.
class TestLinuxChatCommandSender : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fifoGetsThePlainCommandLine();
    void fifoThatCannotTakeItFailsAtOnce();
    void weechatGetsTheCommandInEveryFifo();
    void hexChatGetsTheCommandWithoutItsSlash();
    void otherServicesTryHexChatThenWeechat();
    void busyHexChatDropsInsteadOfQueueing();

private:
    // A FIFO with a reader that never blocks; returns the reading end.
    int makeFifo(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).path());
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            return -1;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        m_readers << fd;
        return fd;
    }
    static QByteArray readAll(int fd)
    {
        QByteArray data(1 << 17, '\0');
        const ssize_t n = ::read(fd, data.data(), std::size_t(data.size()));
        return data.left(n > 0 ? int(n) : 0);
    }

    QTemporaryDir m_home;
    QProcess m_bus;
    QString m_busAddress;
    QList<int> m_readers;
    LinuxChatCommandSender m_sender;
};

void TestLinuxChatCommandSender::initTestCase()
{
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", m_home.filePath("run").toUtf8());
    qputenv("XDG_DATA_HOME", m_home.filePath("data").toUtf8());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    m_bus.start("dbus-daemon", { "--session", "--nofork", "--print-address=1" });
    if (m_bus.waitForReadyRead(5000)) {
        m_busAddress = QString::fromUtf8(m_bus.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
    }
}

void TestLinuxChatCommandSender::cleanupTestCase()
{
    for (int fd : std::as_const(m_readers))
        ::close(fd);
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestLinuxChatCommandSender::fifoGetsThePlainCommandLine()
{
    const QString pipe = m_home.filePath("chat pipe");
    const int reader = makeFifo(pipe);
    m_sender.sendDdeCommand("FIFO:" + pipe, Message);
    QCOMPARE(readAll(reader), Message.toUtf8() + '\n');
}

void TestLinuxChatCommandSender::fifoThatCannotTakeItFailsAtOnce()
{
    const QString stale = m_home.filePath("stale");
    QVERIFY(::mkfifo(QFile::encodeName(stale).constData(), 0600) == 0); // no reader
    const QString full = m_home.filePath("full");
    const int reader = makeFifo(full); // a reader that never reads
    const QString plain = m_home.filePath("plain.txt");
    QFile(plain).open(QIODevice::WriteOnly);

    QElapsedTimer clock;
    clock.start();
    m_sender.sendDdeCommand("fifo:" + stale, Message);
    m_sender.sendDdeCommand("fifo:" + plain, Message);
    for (int i = 0; i < 10000; ++i)
        m_sender.sendDdeCommand("fifo:" + full, Message);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(QFileInfo(plain).size(), 0);
    // Only whole lines got through; what the pipe could not take was dropped.
    const QList<QByteArray> lines = readAll(reader).split('\n');
    QVERIFY(lines.size() > 100 && lines.size() < 10000);
    QCOMPARE(QSet<QByteArray>(lines.begin(), lines.end() - 1), QSet<QByteArray> { Message.toUtf8() });
}

void TestLinuxChatCommandSender::weechatGetsTheCommandInEveryFifo()
{
    const int runtime = makeFifo(m_home.filePath("run/weechat/weechat_fifo_4242"));
    const int data = makeFifo(m_home.filePath("data/weechat/weechat_fifo_77"));
    QVERIFY(::mkfifo(QFile::encodeName(m_home.filePath(".weechat/weechat_fifo")).constData(), 0600) == 0
        || QDir().mkpath(m_home.filePath(".weechat")));
    m_sender.sendDdeCommand("WeeChat", Message);
    QCOMPARE(readAll(runtime), "*" + Message.toUtf8() + '\n');
    QCOMPARE(readAll(data), "*" + Message.toUtf8() + '\n');
}

void TestLinuxChatCommandSender::hexChatGetsTheCommandWithoutItsSlash()
{
    if (m_busAddress.isEmpty())
        QSKIP("dbus-daemon is not installed");
    FakeHexChat hexChat(m_busAddress);
    m_sender.sendDdeCommand("HEXCHAT", Message);
    QTRY_COMPARE(hexChat.commands, QStringList { "Sentrel 10.0.0.5 23" });
}

void TestLinuxChatCommandSender::otherServicesTryHexChatThenWeechat()
{
    if (m_busAddress.isEmpty())
        QSKIP("dbus-daemon is not installed");
    const int weechat = makeFifo(m_home.filePath("run/weechat/weechat_fifo_5"));
    {
        FakeHexChat hexChat(m_busAddress);
        m_sender.sendDdeCommand("mIRC", Message);
        QTRY_COMPARE(hexChat.commands.size(), 1);
        QTest::qWait(100);
        QCOMPARE(readAll(weechat), QByteArray());
    }
    m_sender.sendDdeCommand("mIRC", Message); // HexChat gone: the bus answers with an error
    QByteArray received;
    QTRY_COMPARE(received += readAll(weechat), "*" + Message.toUtf8() + '\n');
}

void TestLinuxChatCommandSender::busyHexChatDropsInsteadOfQueueing()
{
    if (m_busAddress.isEmpty())
        QSKIP("dbus-daemon is not installed");
    FakeHexChat hexChat(m_busAddress);
    hexChat.busy = true;
    for (int i = 0; i < 500; ++i)
        m_sender.sendDdeCommand("hexchat", Message);
    QTRY_COMPARE(hexChat.commands.size(), HexChatRemote::MaxPendingCalls);
    QTest::qWait(200);
    QCOMPARE(hexChat.commands.size(), HexChatRemote::MaxPendingCalls);
}

QTEST_GUILESS_MAIN(TestLinuxChatCommandSender)
#include "tst_LinuxChatCommandSender.moc"
