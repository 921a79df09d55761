#include "BrowseResult.h"

#include <algorithm>

namespace BrowseResult {

QString fromChoice(const QString& chosenPath, Target target)
{
    if (chosenPath.isEmpty())
        return QStringLiteral("None");
    if (target == Target::FileName)
        return chosenPath;

    const auto needsQuotes = [](QChar c) { return c.isSpace() || c == u'"' || c == u'\'' || c == u'\\'; };
    if (std::none_of(chosenPath.begin(), chosenPath.end(), needsQuotes))
        return chosenPath;
    // Inside double quotes the command line keeps everything but a backslash escape, so only
    // quotes and backslashes need one.
    QString quoted = chosenPath;
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    return QStringLiteral("\"%1\"").arg(quoted);
}

} // namespace BrowseResult
