#include "LogEntries.h"

#include <QIODevice>

namespace LogEntries {

QStringList matching(QIODevice& log, const QString& address, int max)
{
    static const QByteArray Head("Intruder Information - ");
    const QByteArray ipLine = "IP: " + address.toUtf8();
    QStringList found;
    QByteArrayList entry;
    bool matches = false;
    const auto close = [&] {
        if (matches && !entry.isEmpty()) {
            found << QString::fromUtf8(entry.join('\n'));
            if (found.size() > max)
                found.removeFirst();
        }
        entry.clear();
        matches = false;
    };
    while (!log.atEnd()) {
        QByteArray line = log.readLine(64 * 1024);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(Head))
            close();
        else if (entry.isEmpty())
            continue; // outside any entry (the blank line before each)
        entry << line;
        matches = matches || line == ipLine;
        if (entry.size() >= 4)
            close();
    }
    close();
    return found;
}

} // namespace LogEntries
