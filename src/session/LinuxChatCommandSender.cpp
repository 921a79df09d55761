#include "LinuxChatCommandSender.h"

#include "Fifo.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <climits>

namespace {
QString environmentFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? fallback : value;
}
} // namespace

LinuxChatCommandSender::LinuxChatCommandSender()
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    QObject::connect(&m_flushTimer, &QTimer::timeout, &m_flushTimer, [this] { flush(); });
}

void LinuxChatCommandSender::sendCommand(const QString& service, const QString& message)
{
    const QString name = service.trimmed();
    if (name.compare(QLatin1String("hexchat"), Qt::CaseInsensitive) == 0)
        sendToHexChat(message, false);
    else if (name.compare(QLatin1String("weechat"), Qt::CaseInsensitive) == 0)
        sendToWeechat(message);
    else if (name.startsWith(QLatin1String("fifo:"), Qt::CaseInsensitive))
        queue(name.mid(5), false, message.toUtf8() + '\n');
    else
        sendToHexChat(message, true);
}

void LinuxChatCommandSender::sendToHexChat(const QString& message, bool thenWeechat)
{
    // HexChat runs a command given without its leading "/"; with it, it would run nothing.
    const QString command = message.startsWith(QLatin1Char('/')) ? message.mid(1) : message;
    std::function<void()> onFailure;
    if (thenWeechat)
        onFailure = [this, message] { sendToWeechat(message); };
    if (!m_hexChat.command(command, onFailure) && thenWeechat)
        sendToWeechat(message);
}

void LinuxChatCommandSender::sendToWeechat(const QString& message)
{
    // "*" sends the text to WeeChat's current buffer, where a "/" line runs as a command.
    queue(QString(), true, '*' + message.toUtf8() + '\n');
}

void LinuxChatCommandSender::queue(const QString& path, bool forWeechat, const QByteArray& line)
{
    if (m_pending.empty() || m_pending.back().path != path || m_pending.back().forWeechat != forWeechat)
        m_pending.push_back({ path, forWeechat, {} });
    m_pending.back().lines += line;
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void LinuxChatCommandSender::flush()
{
    std::vector<PendingLines> pending;
    pending.swap(m_pending);
    QStringList weechat;
    bool weechatLooked = false;
    for (const PendingLines& batch : pending) {
        if (!batch.forWeechat) {
            writeLines(batch.path, batch.lines);
            continue;
        }
        if (!weechatLooked) {
            weechat = weechatFifos();
            weechatLooked = true;
        }
        for (const QString& fifo : std::as_const(weechat))
            writeLines(fifo, batch.lines);
    }
}

void LinuxChatCommandSender::writeLines(const QString& path, const QByteArray& lines)
{
    // A pipe takes up to PIPE_BUF bytes in one piece, so every write ends at the end of a line and
    // a reader never sees half of one. Once a write fails (no reader, a full pipe, not a pipe)
    // the rest would fail too and is dropped.
    qsizetype start = 0;
    while (start < lines.size()) {
        qsizetype end = start + qMin<qsizetype>(PIPE_BUF, lines.size() - start);
        if (end < lines.size()) {
            const qsizetype lastBreak = lines.lastIndexOf('\n', end - 1);
            end = lastBreak >= start ? lastBreak + 1 : lines.indexOf('\n', start) + 1;
        }
        // A pipe without a reader, or a full one, misses the rest: a chat client that is not there
        // or busy is never waited for nor reported.
        if (!Fifo::write(path, lines.sliced(start, end - start)))
            return;
        start = end;
    }
}

QStringList LinuxChatCommandSender::weechatFifos()
{
    const QString home = QDir::homePath();
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QStringList folders;
    if (!runtimeDir.isEmpty())
        folders << runtimeDir + QStringLiteral("/weechat");
    folders << environmentFolder("XDG_DATA_HOME", home + QStringLiteral("/.local/share"))
            + QStringLiteral("/weechat")
            << home + QStringLiteral("/.weechat");

    QStringList fifos;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QFileInfoList entries = QDir(folder).entryInfoList(
            { QStringLiteral("weechat_fifo*") }, QDir::System | QDir::Files, QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString path = entry.canonicalFilePath();
            if (!path.isEmpty() && !seen.contains(path) && Fifo::isFifo(path)) {
                seen.insert(path);
                fifos << path;
            }
        }
    }
    return fifos;
}
