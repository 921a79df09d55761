#include "QtMessageRouter.h"

#include <QByteArray>
#include <QLatin1String>

#include <array>
#include <cstdio>

namespace {
// Said on every start without a session (a service, a container) or on the offscreen platform;
// nothing in them calls for action. On Wayland, Qt's complaints about what the compositor does not
// allow (a tray without a watcher, the clipboard and activation without focus): the program says
// once, in its own words, which features this desktop cannot offer.
constexpr std::array<QLatin1String, 6> kMeaningless {
    QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"),
    QLatin1String("QStandardPaths: wrong permissions on runtime directory"),
    QLatin1String("This plugin does not support "),
    QLatin1String("QObject::connect: No such signal QPlatformNativeInterface::systemTrayWindowChanged"),
    QLatin1String("Can't set clipboard contents with no wl_seats available"),
    QLatin1String("Wayland does not support QWindow::requestActivate()"),
};

void handle(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (QtMessageRouter::isMeaningless(message))
        return;
    static const bool journal = !qEnvironmentVariableIsEmpty("JOURNAL_STREAM");
    const QByteArray text = QtMessageRouter::line(type, message, journal);
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

void QtMessageRouter::install()
{
    qInstallMessageHandler(&handle);
}

bool QtMessageRouter::isMeaningless(const QString& message)
{
    for (const QLatin1String& start : kMeaningless) {
        if (message.startsWith(start))
            return true;
    }
    return false;
}

QByteArray QtMessageRouter::line(QtMsgType type, const QString& message, bool journal)
{
    // sd-daemon(3) priorities: 3 error, 4 warning, 6 info, 7 debug.
    const char* priority = "<7>";
    const char* label = "debug";
    switch (type) {
    case QtDebugMsg:
        break;
    case QtInfoMsg:
        priority = "<6>";
        label = "info";
        break;
    case QtWarningMsg:
        priority = "<4>";
        label = "warning";
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        priority = "<3>";
        label = "error";
        break;
    }
    QByteArray out = journal ? QByteArray(priority) : QByteArray();
    out += "sentrel: Qt ";
    out += label;
    out += ": ";
    out += message.toUtf8();
    out += '\n';
    return out;
}
