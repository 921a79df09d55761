#pragma once

#include <QByteArray>
#include <QString>

// The files that hold intruder data and settings, and the program folder they live in, are the
// user's alone whatever the umask: other local users learn nothing of who attacked, and cannot
// plant a link that turns the program's writes onto a file of their choosing.
namespace PrivateFiles {

// Opens the file for appending, creating it readable and writable by its owner only; an existing
// file of ours is narrowed to that. A symbolic link, a pipe or anything else that is not a plain
// file in its place is refused, never followed or waited on. The descriptor (close-on-exec,
// non-blocking), or -1 with errno set.
[[nodiscard]] int openForAppend(const QByteArray& path);

// Creates the file empty and private when it is missing (with its folder), and narrows an
// existing one of ours to its owner. False with errno set when that fails.
[[nodiscard]] bool makePrivateFile(const QString& path);

// Creates the folder when it is missing (its parents as usual) and closes it to everyone but its
// owner. False with the reason in error when it cannot be made or is not a folder of this user's.
[[nodiscard]] bool makePrivateFolder(const QString& path, QString* error = nullptr);

// True when the folder exists, belongs to this user and nobody else may enter or change it.
[[nodiscard]] bool isPrivateFolder(const QString& path);

} // namespace PrivateFiles
