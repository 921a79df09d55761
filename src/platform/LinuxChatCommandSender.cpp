#include "LinuxChatCommandSender.h"

#include "Fifo.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {
QString environmentFolder(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? fallback : value;
}
} // namespace

void LinuxChatCommandSender::sendDdeCommand(const QString& service, const QString& message)
{
    const QString name = service.trimmed();
    if (name.compare(QLatin1String("hexchat"), Qt::CaseInsensitive) == 0)
        sendToHexChat(message, false);
    else if (name.compare(QLatin1String("weechat"), Qt::CaseInsensitive) == 0)
        sendToWeechat(message);
    else if (name.startsWith(QLatin1String("fifo:"), Qt::CaseInsensitive))
        Fifo::write(name.mid(5), message.toUtf8() + '\n');
    else
        sendToHexChat(message, true);
}

void LinuxChatCommandSender::sendToHexChat(const QString& message, bool thenWeechat)
{
    // HexChat runs a command given without its leading "/"; with it, it would run nothing.
    const QString command = message.startsWith(QLatin1Char('/')) ? message.mid(1) : message;
    std::function<void()> onFailure;
    if (thenWeechat)
        onFailure = [message] { sendToWeechat(message); };
    if (!m_hexChat.command(command, onFailure) && thenWeechat)
        sendToWeechat(message);
}

void LinuxChatCommandSender::sendToWeechat(const QString& message)
{
    // "*" sends the text to WeeChat's current buffer, where a "/" line runs as a command.
    const QByteArray line = '*' + message.toUtf8() + '\n';
    for (const QString& fifo : weechatFifos())
        Fifo::write(fifo, line);
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
