#include "IntruderLog.h"

#include "EventFields.h"
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
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Copies ASCII text byte for byte.
char* put(char* at, QByteArrayView text)
{
    return std::copy(text.begin(), text.end(), at);
}

char* put(char* at, QStringView ascii)
{
    for (const QChar c : ascii)
        *at++ = char(c.unicode());
    return at;
}

// Writes the entries in bytes, which end at the offsets in ends, to fd, whose file held start
// bytes, and returns how many the file took. A write cut short (a full disk, a size limit) is
// taken back to the end of the last whole entry: part of one would run into every entry after it.
qsizetype appendWholeEntries(int fd, off_t start, const QByteArray& bytes, const std::vector<qsizetype>& ends)
{
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
    if (done < bytes.size()) {
        const qsizetype keep = whole > 0 ? ends[std::size_t(whole - 1)] : 0;
        (void)!::ftruncate(fd, start + keep); // failing that, nothing better is left to do
    }
    return whole;
}
} // namespace

IntruderLog::IntruderLog()
    : m_flushSoon([this] { flush(); })
{
}

IntruderLog::~IntruderLog()
{
    flush();
    closeLog();
}

void IntruderLog::writeLogEntry(const QString& folder, const IntruderRecord& intruder, qint64 msecsSinceEpoch)
{
    useFolder(folder);
    if (m_pending.isEmpty()) {
        m_sinceFirstPending.start();
        m_flushSoon.schedule();
    }
    appendEntry(m_pending, intruder, msecsSinceEpoch);
    m_entryEnds.push_back(m_pending.size());
    // A pass that runs long (a flood on many ports) must not hold entries back.
    if (m_pending.size() >= MaxPendingBytes || m_sinceFirstPending.elapsed() >= MaxDelayMs)
        flush();
}

bool IntruderLog::flush()
{
    m_flushSoon.cancel();
    if (m_pending.isEmpty())
        return true;
    const auto entries = qsizetype(m_entryEnds.size());
    off_t start = 0;
    const qsizetype written = openLog(&start) ? appendWholeEntries(m_fd, start, m_pending, m_entryEnds) : 0;
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
    m_flushSoon.cancel();
    m_pending.resize(0);
    m_entryEnds.clear();
    closeLog();
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
    static constexpr QByteArrayView Head("\r\nIntruder Information - "), Ip("\r\nIP: "),
        Port("\r\nAttacked Port: "), Message("\r\nMessage: "), End("\r\n");
    const QByteArrayView when(stamp(msecsSinceEpoch));
    const EventFields::Digits digits(intruder.attackedPort);
    const QByteArrayView port(digits.text, digits.size);
    const QString& ip = intruder.intruderIP;
    const QString& message = intruder.intruderMessage;
    if (!QtPrivate::isAscii(ip) || !QtPrivate::isAscii(message)) {
        out.append(Head).append(when).append(Ip).append(ip.toUtf8()).append(Port).append(port);
        out.append(Message).append(message.toUtf8()).append(End);
        return;
    }
    // The usual entry, all ASCII but the time: copied into room made once.
    const qsizetype start = out.size();
    out.resize(start + Head.size() + when.size() + Ip.size() + ip.size() + Port.size() + port.size()
        + Message.size() + message.size() + End.size());
    char* next = put(put(put(out.data() + start, Head), when), Ip);
    put(put(put(put(put(put(next, ip), Port), port), Message), message), End);
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
    closeLog();
    m_folder = folder;
    m_path = QFile::encodeName(QDir(folder).filePath(fileName()));
}

// The file stays open from one append to the next, which spares an open, a close and a seek per
// pass; a look at the name each time finds a log deleted (Purge, or by hand), replaced or opened
// up to others since, which is then opened by name again, as every append once did.
bool IntruderLog::openLog(off_t* size)
{
    struct stat named {};
    if (m_fd >= 0
        && (::lstat(m_path.constData(), &named) != 0 || named.st_dev != m_device || named.st_ino != m_inode
            || (named.st_mode & 07777) != 0600)) // the mode openForAppend leaves
        closeLog();
    if (m_fd < 0) {
        m_fd = PrivateFiles::openForAppend(m_path);
        if (m_fd < 0 || ::fstat(m_fd, &named) != 0) {
            closeLog();
            return false;
        }
        m_device = named.st_dev;
        m_inode = named.st_ino;
    }
    *size = named.st_size;
    return true;
}

void IntruderLog::closeLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
