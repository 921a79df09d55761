#pragma once

#include "Settings.h"

#include <span>

// The one table of store keys. It drives first start, loading and saving, in the order in which
// the first start writes the keys.
namespace SettingsKeys {

inline constexpr auto Application = "Sentrel II";
inline constexpr auto GeneralSection = "General";
inline constexpr auto PortsSection = "Ports";
inline constexpr auto MarkerKey = "Start";
inline constexpr auto PortCountKey = "Number";

enum class Form {
    Flag, // "0"/"1", shown by a check box
    Switch, // "True"/"False", shown by an On/Off pair
    Text, // stored and loaded unchanged
    Marker, // the first-start marker, written by the first start only
    PortList, // the port entries "0".."n" and "Number"
};

struct Key
{
    const char* section;
    const char* key;
    const char* firstStartValue;
    Form form;
    // The value the key holds, by form; none for the marker and the port list.
    Flag Settings::*flag = nullptr;
    bool Settings::*onOff = nullptr;
    QString Settings::*text = nullptr;
};

std::span<const Key> table();

// The port list written by the first start, keys "0" to "11".
std::span<const char* const> defaultPorts();

// Number of store keys the first start writes.
int firstStartKeyCount();

} // namespace SettingsKeys
