#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

// Why a value typed into the options dialog would not be used, in the allow list's form
// ("text": reason); empty when it would be. OK stores nothing while a field says so.
namespace FieldChecks {

// A push address: an http or https URL with a host. An empty one turns pushing off and passes.
QString pushUrl(const QString& url);
// A collector: host:port, an IPv6 host in brackets. An empty one is none and passes.
QString collector(const QString& text);

// What "Add Port" makes of the typed text against the list it goes into: the entry to append
// (portEntry's conversion), or why none is. A cancelled prompt (empty text) gives neither.
struct PortAdd
{
    QString entry;
    QString problem;
};
PortAdd addPort(const QString& typed, const QStringList& list, const QLocale& locale = QLocale());

} // namespace FieldChecks
