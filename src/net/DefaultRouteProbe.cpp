#include "DefaultRouteProbe.h"

#include "RouteTables.h"

#include <QFile>

#include <ifaddrs.h>

namespace {
// Proc files report a size of 0, so anything that trusts the size or atEnd() reads nothing: one
// readAll() takes the whole table.
QByteArray readTable(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

RouteTables::InterfaceFlags interfaceFlags()
{
    RouteTables::InterfaceFlags flags;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return flags;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (entry->ifa_name)
            flags.insert(QString::fromLocal8Bit(entry->ifa_name), entry->ifa_flags);
    }
    freeifaddrs(list);
    return flags;
}
} // namespace

DefaultRouteProbe::DefaultRouteProbe(QString ipv4Table, QString ipv6Table)
    : m_ipv4Table(std::move(ipv4Table))
    , m_ipv6Table(std::move(ipv6Table))
{
}

bool DefaultRouteProbe::isRemoteConnectionActive()
{
    const QStringList interfaces = RouteTables::ipv4DefaultInterfaces(readTable(m_ipv4Table))
        + RouteTables::ipv6DefaultInterfaces(readTable(m_ipv6Table));
    return !interfaces.isEmpty() && RouteTables::anyUsable(interfaces, interfaceFlags());
}
