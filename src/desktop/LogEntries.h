#pragma once

#include <QString>
#include <QStringList>

class QIODevice;

// The entries of Log.txt about one address: the five lines each intrusion wrote, from the
// "Intruder Information" line to its message, found by the entry's "IP: " line. Only the newest
// max are kept, so a log of any size costs a bounded amount of memory.
namespace LogEntries {

QStringList matching(QIODevice& log, const QString& address, int max = 500);

} // namespace LogEntries
