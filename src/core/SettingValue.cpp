#include "SettingValue.h"

#include "Settings.h"

#include <algorithm>
#include <limits>

namespace SettingValue {

namespace {
bool parseDecimal(const QString& text, int* value)
{
    const QString trimmed = text.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        const bool sign = i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'));
        if (!sign && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            return false;
    }
    bool ok = false;
    *value = trimmed.toInt(&ok, 10);
    return ok;
}
} // namespace

int flag(const QString& text)
{
    int value = 0;
    return parseDecimal(text, &value) ? value : 0;
}

bool isTrue(const QString& text)
{
    return text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

int lastPortIndex(const QString& text)
{
    int value = -1;
    if (!parseDecimal(text, &value) || value < -1 || value >= std::numeric_limits<qint16>::max())
        return -1;
    return value;
}

} // namespace SettingValue

Settings::Collector Settings::Collector::parse(const QString& text, Protocol protocol)
{
    Collector collector;
    collector.text = text;
    collector.protocol = protocol;
    if (text.isEmpty())
        return collector;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = text.left(std::max<qsizetype>(colon, 0));
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok, 10);
    const bool unbracketedV6 = !bracketed && host.contains(QLatin1Char(':'));
    QString reason;
    if (colon <= 0)
        reason = QStringLiteral("not host:port");
    else if (unbracketedV6 && !text.startsWith(QLatin1Char('[')))
        reason = QStringLiteral("an IPv6 address goes in brackets, e.g. [2001:db8::1]:514");
    else if (unbracketedV6 || !ok || port < 1 || port > 65535 || host.isEmpty())
        reason = QStringLiteral("the port must be a number from 1 to 65535");
    if (!reason.isEmpty()) {
        collector.problem = QLatin1Char('"') + text + QLatin1String("\": ") + reason;
        return collector;
    }
    collector.host = host;
    collector.port = port;
    return collector;
}
