#include "AutostartEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

AutostartEntry::AutostartEntry(const QString& name)
    : m_fileName(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop"))
{
}

bool AutostartEntry::write(const QString& program, bool enabled, QString* error) const
{
    if (!QDir().mkpath(QFileInfo(m_fileName).path())) {
        if (error)
            *error = QStringLiteral("cannot create its folder");
        return false;
    }
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(text(program, enabled)) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QByteArray AutostartEntry::text(const QString& program, bool enabled)
{
    QString entry = QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=Sentrel\n"
                                   "Comment=Starts the intrusion alarm with the session\n"
                                   "Exec=%1\n"
                                   "Icon=sentrel\n"
                                   "Terminal=false\n"
                                   "Hidden=%2\n")
                        .arg(execValue(program), enabled ? QStringLiteral("false") : QStringLiteral("true"));
    return entry.toUtf8();
}

QString AutostartEntry::execValue(const QString& program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = program;
    if (program.isEmpty()
        || std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); })) {
        arg = QStringLiteral("\"");
        for (QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                arg += u'\\';
            arg += c;
        }
        arg += u'"';
    }
    arg.replace(u'\\', QStringLiteral("\\\\"));
    arg.replace(u'\n', QStringLiteral("\\n"))
        .replace(u'\t', QStringLiteral("\\t"))
        .replace(u'\r', QStringLiteral("\\r"));
    // Launchers built on GLib refuse a program path with a field code character in it even when
    // escaped, but take it as an argument: env runs the program then.
    if (program.contains(u'%'))
        arg.prepend(QStringLiteral("env "));
    arg.replace(u'%', QStringLiteral("%%"));
    return arg;
}
