#pragma once
// The settings store: the four settings kept as text values in the driver's
// machine-wide profile key. Every consumer loads a fresh record at the moment
// it needs a value; nothing is cached.
#include "settings/SettingsText.h"

// HKEY_LOCAL_MACHINE\<kSettingsKeyPath>
constexpr const char kSettingsKeyPath[] = "Software\\ASCOM\\Focuser Drivers\\Tavrilen.Focuser";

// Opens (creating if absent) the settings key and reads the four values. A
// caller that may not write there still gets the stored values: the key is
// then opened for reading only. A missing or unreadable value loads as its
// default; every value is forced into its range. When the key cannot be used
// at all, the record keeps its initial values (0, 0, 0.0, -1). Never fails
// and reports nothing.
DriverSettings LoadSettings();

// Writes the four values as the record holds them, unclamped, and no other.
// False when the key could not be opened for writing or a value was not
// written.
bool SaveSettings(const DriverSettings& settings);

// Whether the trace log is switched on; off when the key cannot be read.
// Never creates the key.
bool LoadTraceSwitch();
