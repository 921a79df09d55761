#pragma once

#include <QString>

// What a "?" button puts into its text box: the chosen item's path, or "None" for an empty path.
// The two "Run" boxes hold command lines, which are split into words before they start; there a
// path with a blank or a quote is quoted so that it stays one word. Sound boxes hold plain file
// names and take the path unchanged.
namespace BrowseResult {

enum class Target { CommandLine, FileName };

QString fromChoice(const QString& chosenPath, Target target);

} // namespace BrowseResult
