#include "FieldChecks.h"

#include "PortEntry.h"
#include "Settings.h"

#include <QUrl>

namespace FieldChecks {

namespace {
QString refusal(const QString& text, const QString& reason)
{
    return QLatin1Char('"') + text + QLatin1String("\": ") + reason;
}
} // namespace

QString pushUrl(const QString& url)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return {};
    // The delivery speaks only these two, and a URL without a scheme would reach it as an unknown
    // protocol.
    const QUrl parsed(text, QUrl::StrictMode);
    const bool web = parsed.scheme() == QLatin1String("https") || parsed.scheme() == QLatin1String("http");
    if (!parsed.isValid() || !web || parsed.host().isEmpty())
        return refusal(text, QStringLiteral("not an http or https address, e.g. https://ntfy.sh/my-topic"));
    return {};
}

QString collector(const QString& text)
{
    return Settings::Collector::parse(text.trimmed()).problem;
}

PortAdd addPort(const QString& typed, const QStringList& list, const QLocale& locale)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return {};
    const std::optional<QString> entry = portEntry(text, locale);
    if (!entry)
        return { {}, refusal(text, QStringLiteral("not a port number")) };
    // A second listener on the same port would only fail; entries stored as typed count by value.
    const int port = entry->toInt();
    for (const QString& listed : list) {
        bool ok = false;
        if (listed.trimmed().toInt(&ok, 10) == port && ok)
            return { {}, refusal(*entry, QStringLiteral("already in the list")) };
    }
    return { *entry, {} };
}

} // namespace FieldChecks
