#pragma once

#include <QByteArray>
#include <QString>

struct Event;
class EventFormat;

// Syslog messages as RFC 5424 lays them out, with the event's fields as structured data, and the
// octet-counted framing RFC 6587 uses on TCP.
namespace Rfc5424 {

// The structured data element's name: a name of our own under the example enterprise number
// RFC 5612 sets aside, as no number is registered for this program.
inline constexpr auto SdId = "sentrel@32473";
inline constexpr auto AppName = "sentrel";

// Severity by kind: intrusions are warnings, changes of what is guarded notices, the rest info.
int severity(const Event& event);
// facility: the syslog facility number (LOG_AUTHPRIV >> 3 is 10).
QByteArray message(const Event& event, const EventFormat& format, int facility, qint64 pid);
// The same with the MSG part given: format.summary(event), which the local system log also writes.
QByteArray message(
    const Event& event, const EventFormat& format, int facility, qint64 pid, const QByteArray& summary);
// The message that tells a collector how many events it missed while it was away.
QByteArray droppedMessage(
    quint64 dropped, const QByteArray& timestamp, const EventFormat& format, int facility, qint64 pid);

// A parameter value with '"', '\' and ']' escaped by a backslash.
QByteArray escapeParamValue(const QString& value);
// HOSTNAME, APP-NAME and the like: printable US-ASCII without blanks, "-" when empty.
QByteArray headerField(const QString& value, int maxLength);
// "LEN SP MSG".
QByteArray octetCounted(const QByteArray& message);

} // namespace Rfc5424
