#include "IntruderLog.h"

#include "IntruderRecord.h"
#include "PrivateFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include "StatusReporter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Addresses and port numbers are ASCII; anything else takes the general conversion.
void appendUtf8(QByteArray& out, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c >= 0x80) {
            out += QStringView(text).mid(i).toUtf8();
            return;
        }
        out += char(c);
    }
}

// Appends the entries in bytes, which end at the offsets in ends, and returns how many the file
// took. A write cut short (a full disk, a size limit) is taken back to the end of the last whole
// entry: part of one would run into every entry after it.
qsizetype appendWholeEntries(
    const QByteArray& path, const QByteArray& bytes, const std::vector<qsizetype>& ends)
{
    const int fd = PrivateFiles::openForAppend(path);
    if (fd < 0)
        return 0;
    const off_t start = ::lseek(fd, 0, SEEK_END); // where this append begins
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const auto whole = qsizetype(std::upper_bound(ends.begin(), ends.end(), done) - ends.begin());
    if (done < bytes.size() && start >= 0) {
        const qsizetype keep = whole > 0 ? ends[std::size_t(whole - 1)] : 0;
        (void)!::ftruncate(fd, start + keep); // failing that, nothing better is left to do
    }
    ::close(fd);
    return whole;
}
} // namespace

IntruderLog::IntruderLog()
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    QObject::connect(&m_flushTimer, &QTimer::timeout, &m_flushTimer, [this] { flush(); });
}

IntruderLog::~IntruderLog()
{
    flush();
}

void IntruderLog::writeLogEntry(const QString& folder, const IntruderRecord& intruder, qint64 msecsSinceEpoch)
{
    useFolder(folder);
    if (m_pending.isEmpty()) {
        m_sinceFirstPending.start();
        m_flushTimer.start();
    }
    appendEntry(m_pending, intruder, msecsSinceEpoch);
    m_entryEnds.push_back(m_pending.size());
    // A pass that runs long (a flood on many ports) must not hold entries back.
    if (m_pending.size() >= MaxPendingBytes || m_sinceFirstPending.elapsed() >= MaxDelayMs)
        flush();
}

bool IntruderLog::flush()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return true;
    const auto entries = qsizetype(m_entryEnds.size());
    const qsizetype written = appendWholeEntries(m_path, m_pending, m_entryEnds);
    m_pending.resize(0); // keeps the buffer for the next pass
    m_entryEnds.clear();
    if (written < entries) {
        m_lostUnreported += quint64(entries - written);
        return false;
    }
    if (m_lostUnreported > 0 && m_status) {
        m_status->addStatusLine(QStringLiteral("Intruder log: %1 entries could not be written to %2")
                                    .arg(std::exchange(m_lostUnreported, 0))
                                    .arg(fileName()));
    }
    return true;
}

bool IntruderLog::purge(const QString& folder)
{
    m_flushTimer.stop();
    m_pending.resize(0);
    m_entryEnds.clear();
    return QFile::remove(QDir(folder).filePath(fileName()));
}

QByteArray IntruderLog::entry(const IntruderRecord& intruder, qint64 msecsSinceEpoch)
{
    QByteArray bytes;
    appendEntry(bytes, intruder, msecsSinceEpoch);
    return bytes;
}

void IntruderLog::appendEntry(QByteArray& out, const IntruderRecord& intruder, qint64 msecsSinceEpoch)
{
    out += "\r\nIntruder Information - ";
    out += stamp(msecsSinceEpoch);
    out += "\r\nIP: ";
    appendUtf8(out, intruder.intruderIP);
    out += "\r\nAttacked Port: ";
    out += QByteArray::number(intruder.attackedPort);
    out += "\r\nMessage: ";
    appendUtf8(out, intruder.intruderMessage);
    out += "\r\n";
}

const QByteArray& IntruderLog::stamp(qint64 msecsSinceEpoch)
{
    const qint64 second = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000 : (msecsSinceEpoch - 999) / 1000;
    if (second != m_stampSecond) {
        // The user's general date: short date, one blank, long time. The time is formatted from
        // the date-time, not the bare time, so a zone in the time format is filled in.
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
        const QLocale locale = QLocale::system();
        m_stamp = (locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ')
            + locale.toString(when, locale.timeFormat(QLocale::LongFormat)))
                      .toUtf8();
        m_stampSecond = second;
    }
    return m_stamp;
}

void IntruderLog::useFolder(const QString& folder)
{
    if (folder == m_folder && !m_path.isEmpty())
        return;
    flush(); // what was queued belongs to the earlier folder
    m_folder = folder;
    m_path = QFile::encodeName(QDir(folder).filePath(fileName()));
}
