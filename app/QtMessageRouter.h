#pragma once

#include <QString>
#include <QtGlobal>

// Where Qt's own messages go: never to standard output, which carries only the program's lines.
// Messages known to say nothing to a user are dropped; the rest go to standard error, with a
// level prefix the journal understands when systemd runs the program.
class QtMessageRouter
{
public:
    static void install();

    static bool isMeaningless(const QString& message);
    // The line written to standard error; journal: prefix a "<N>" priority.
    static QByteArray line(QtMsgType type, const QString& message, bool journal);
};
