#include "SourceLocation.h"

#include <QFile>

#include <cstdio>
#include <cstring>

#include <netinet/in.h>

extern "C" {
#include <libloc/as.h>
#include <libloc/database.h>
#include <libloc/libloc.h>
#include <libloc/network.h>
}

namespace {

// Where Debian's location database is installed.
constexpr const char* InstalledDatabase = "/var/lib/location/database.db";

// The database is mapped once and every lookup reads it in place; nothing here touches the network.
class LocationDatabase final : public SourceLocator
{
public:
    LocationDatabase(loc_ctx* context, loc_database* database)
        : m_context(context)
        , m_database(database)
    {
    }
    ~LocationDatabase() override
    {
        loc_database_unref(m_database);
        loc_unref(m_context);
    }
    LocationDatabase(const LocationDatabase&) = delete;
    LocationDatabase& operator=(const LocationDatabase&) = delete;

    SourceLocation locate(const IpAddress& address) override
    {
        SourceLocation location;
        if (address.isNull())
            return location;
        // The database holds IPv4 networks as IPv4-mapped IPv6 ones: a plain IPv4 address in the
        // first four bytes would land in some IPv6 network.
        in6_addr key {};
        if (address.isIpv4()) {
            key.s6_addr[10] = key.s6_addr[11] = 0xff;
            std::memcpy(key.s6_addr + 12, address.bytes(), 4);
        } else {
            std::memcpy(key.s6_addr, address.bytes(), 16);
        }
        loc_network* network = nullptr;
        if (loc_database_lookup(m_database, &key, &network) != 0 || !network)
            return location;
        location.country = QString::fromLatin1(loc_network_get_country_code(network));
        location.asn = loc_network_get_asn(network);
        loc_network_unref(network);
        loc_as* system = nullptr;
        if (location.asn != 0 && loc_database_get_as(m_database, &system, location.asn) == 0 && system) {
            location.owner = QString::fromUtf8(loc_as_get_name(system));
            loc_as_unref(system);
        }
        return location;
    }

private:
    loc_ctx* m_context;
    loc_database* m_database;
};

} // namespace

std::unique_ptr<SourceLocator> SourceLocator::open(const QString& path)
{
    const QByteArray file = QFile::encodeName(path.isEmpty() ? QString::fromLatin1(InstalledDatabase) : path);
    FILE* stream = std::fopen(file.constData(), "re");
    if (!stream)
        return nullptr;
    loc_ctx* context = nullptr;
    loc_database* database = nullptr;
    if (loc_new(&context) == 0 && loc_database_new(context, &database, stream) == 0 && database) {
        std::fclose(stream); // the database keeps a descriptor of its own
        return std::make_unique<LocationDatabase>(context, database);
    }
    std::fclose(stream);
    if (context)
        loc_unref(context);
    return nullptr;
}
