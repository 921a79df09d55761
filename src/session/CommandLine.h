#pragma once

#include <QStringList>

namespace CommandLine {

// Splits a command line into words the way a POSIX shell does, without running one: blanks
// separate words, 'single quotes' keep everything literally, "double quotes" keep blanks and
// honour \" \\ \$ \`, and a backslash outside quotes takes the next character literally.
// Nothing is expanded. An unterminated quote runs to the end of the line.
QStringList splitWords(const QString& commandLine);

} // namespace CommandLine
