#pragma once

#include <QString>

// How stored text is read as a flag, a switch or the port list's last index, once when the store
// is loaded. The program writes only "0"/"1", "True"/"False" and decimal integers, but the store
// is a file a user may edit: anything else reads as 0, false or an empty list, never as an error.
// (Settings::Collector::parse, the collector's "host:port", is defined beside these.)
namespace SettingValue {

// A flag's integer value; text that is not a decimal integer reads as 0.
int flag(const QString& text);

// A switch is true only for "True", in any letter case.
bool isTrue(const QString& text);
inline QString fromSwitch(bool on)
{
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

// The "Number" key: index of the last port entry, -1 for an empty list. Text that is not a
// decimal integer in the 16-bit range the list count is kept in reads as -1.
int lastPortIndex(const QString& text);

} // namespace SettingValue
