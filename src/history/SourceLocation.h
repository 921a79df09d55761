#pragma once

#include "IpAddress.h"

#include <QString>

#include <memory>

// Where an address is, as far as the offline location database knows: its country and the
// autonomous system (network owner) that announces it. Empty fields where it does not know.
struct SourceLocation
{
    QString country; // ISO 3166-1 alpha-2, e.g. "DE"
    quint32 asn = 0;
    QString owner; // the autonomous system's name
};

// Looks addresses up without touching the network. Not thread-safe: each thread opens its own.
class SourceLocator
{
public:
    virtual ~SourceLocator() = default;
    virtual SourceLocation locate(const IpAddress& address) = 0;

    // The database Debian installs, or the one at path; nullptr where none can be read.
    static std::unique_ptr<SourceLocator> open(const QString& path = {});
};
