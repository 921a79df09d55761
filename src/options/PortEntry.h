#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// What "Add Port" makes of the typed text: the decimal text of a 32-bit signed whole number, or
// nothing. The text is read as the locale writes numbers (its digit grouping and decimal mark),
// blanks around it allowed; a fraction is rounded to the nearest whole number, a half to the even
// neighbour. Zero, negative numbers and numbers beyond the port range are kept: the listeners
// report those as not valid.
std::optional<QString> portEntry(const QString& typed, const QLocale& locale = QLocale());

// Whether a listener can guard the entry: the decimal text of a port from 1 to 65535.
bool isGuardablePort(const QString& entry);
