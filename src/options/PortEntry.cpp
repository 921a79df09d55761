#include "PortEntry.h"

#include <cmath>
#include <cstdint>
#include <limits>

std::optional<QString> portEntry(const QString& typed, const QLocale& locale)
{
    bool ok = false;
    const double value = locale.toDouble(typed.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // The default floating-point rounding mode rounds a half to the even neighbour.
    const double whole = std::nearbyint(value);
    if (whole < double(std::numeric_limits<std::int32_t>::min())
        || whole > double(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return QString::number(std::int32_t(whole));
}

bool isGuardablePort(const QString& entry)
{
    bool ok = false;
    const int port = entry.toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535;
}
