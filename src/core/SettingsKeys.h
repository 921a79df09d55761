#pragma once

#include "Settings.h"

#include <span>

// The one table of store keys. It drives first start, loading and saving, in the order in which
// the keys are first written: the original sections by the first start, the later sections
// whenever a key of theirs is missing.
namespace SettingsKeys {

inline constexpr auto Application = "Sentrel II";
inline constexpr auto GeneralSection = "General";
inline constexpr auto MarkerKey = "Start";
inline constexpr auto PortCountKey = "Number";

enum class Form {
    Value, // one key, read into its field by load and written from it by save
    Marker, // the first-start marker, written by the first start only
    PortList, // the port entries "0".."n" and "Number"
};

struct Key
{
    const char* section;
    const char* key;
    const char* firstStartValue;
    Form form;
    // A section that came after the original ones: a missing (empty) key is written with its
    // first-start value whenever the store is loaded, so an older store gains it.
    bool later = false;
    // Value: reads the stored text into the field, which text that makes no sense leaves at the
    // first-start value, and gives the field back as text.
    void (*load)(Settings&, const QString& text, const char* firstStartValue) = nullptr;
    QString (*save)(const Settings&) = nullptr;
    // A check box's flag, which the dialog shows in one of its three states.
    Flag Settings::*flag = nullptr;
    // PortList: the entries, and those the first start (or a missing "Number") writes.
    QStringList& (*list)(Settings&) = nullptr;
    std::span<const char* const> firstStartList = {};
};

std::span<const Key> table();

} // namespace SettingsKeys
