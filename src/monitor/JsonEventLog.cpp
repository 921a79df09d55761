#include "JsonEventLog.h"

#include "PrivateFiles.h"
#include "StatusReporter.h"

#include <QDir>

#include <sys/stat.h>

JsonEventLog::JsonEventLog(StatusReporter& status, QObject* parent)
    : QObject(parent)
    , m_status(status)
    , m_flushSoon([this] { flush(); })
{
}

JsonEventLog::~JsonEventLog()
{
    close();
}

void JsonEventLog::open(const QString& folder, qint64 maxBytes, int keptFiles)
{
    const QString path = QDir(folder).filePath(fileName());
    if (path != m_path)
        close();
    m_path = path;
    m_maxBytes = maxBytes;
    m_keptFiles = keptFiles;
}

void JsonEventLog::close()
{
    flush();
    m_file.close();
    m_path.clear();
}

void JsonEventLog::append(const QByteArray& line, quint64 sequence)
{
    if (m_path.isEmpty())
        return;
    m_pending += line;
    ++m_pendingLines;
    m_pendingThrough = sequence;
    m_flushSoon.schedule();
}

void JsonEventLog::flush()
{
    m_flushSoon.cancel();
    if (m_pending.isEmpty())
        return;
    const QByteArray bytes = std::exchange(m_pending, {});
    const qsizetype lines = std::exchange(m_pendingLines, 0);
    qint64 before = 0; // the file's size
    if (!ensureOpen(&before)) {
        lose(lines);
        return;
    }
    if (before > 0 && before + bytes.size() > m_maxBytes) {
        rotate();
        if (!ensureOpen(&before)) {
            lose(lines);
            return;
        }
    }

    const qint64 written = m_file.write(bytes);
    if (written == bytes.size()) {
        m_writtenThrough = m_pendingThrough;
        if (m_lostUnreported > 0) {
            m_status.addStatusLine(QStringLiteral("Event log: %1 events could not be written to %2")
                                       .arg(std::exchange(m_lostUnreported, 0))
                                       .arg(fileName()));
        }
        return;
    }
    // Keep whole lines only: a torn line would spoil every line appended after it.
    const QByteArray done = bytes.left(qMax<qint64>(written, 0));
    const qsizetype keep = done.lastIndexOf('\n') + 1;
    m_file.resize(before + keep);
    lose(lines - done.left(keep).count('\n'));
    // Reopen on the next pass: the file may have been replaced or its disk freed meanwhile.
    m_file.close();
}

bool JsonEventLog::ensureOpen(qint64* size)
{
    // A log deleted while open (by hand, or a cleaner) is started anew rather than growing unseen.
    // The one look at the file also gives its size, which QFile would ask the system for each time.
    struct stat status {};
    if (m_file.isOpen() && (::fstat(m_file.handle(), &status) != 0 || status.st_nlink == 0))
        m_file.close();
    if (!m_file.isOpen()) {
        const int fd = PrivateFiles::openForAppend(QFile::encodeName(m_path));
        if (fd < 0 || ::fstat(fd, &status) != 0
            || !m_file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                QFileDevice::AutoCloseHandle)) {
            if (fd >= 0 && !m_file.isOpen())
                ::close(fd);
            return false;
        }
    }
    *size = status.st_size;
    return true;
}

void JsonEventLog::rotate()
{
    m_file.close();
    const QString last = m_path + QLatin1Char('.') + QString::number(m_keptFiles);
    QFile::remove(last);
    for (int i = m_keptFiles - 1; i >= 1; --i)
        QFile::rename(m_path + QLatin1Char('.') + QString::number(i),
            m_path + QLatin1Char('.') + QString::number(i + 1));
    if (m_keptFiles > 0)
        QFile::rename(m_path, m_path + QStringLiteral(".1"));
    else
        QFile::remove(m_path);
}

void JsonEventLog::lose(qsizetype lines)
{
    m_lostTotal += quint64(lines);
    m_lostUnreported += quint64(lines);
}
