#pragma once

#include <QByteArray>
#include <QString>

namespace Fifo {

// Writes data into a named pipe in one piece without ever waiting: a pipe with no reader, a full
// pipe or a path that is not a pipe fails at once. Data up to PIPE_BUF bytes is never split, so
// a reader sees a whole line or nothing.
[[nodiscard]] bool write(const QString& path, const QByteArray& data);

bool isFifo(const QString& path);

} // namespace Fifo
