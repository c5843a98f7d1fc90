#pragma once
// Direct access to the settings key for tests: arrange stored values, read
// back what the driver wrote, and remove the key.
#include <windows.h>

#include <optional>
#include <string>

namespace testregistry {

// The registry view the driver's settings key lives in.
REGSAM SettingsView();

// Deletes the settings key with everything in it (no error if absent).
void DeleteSettingsKey();
bool SettingsKeyExists();
// Writes a REG_SZ value (creating the key).
void SetSettingsText(const char* name, const std::string& text);
// Writes raw bytes of the given type.
void SetSettingsRaw(const char* name, DWORD type, const void* data, DWORD size);
// The value's text, or nothing when absent.
std::optional<std::string> GetSettingsText(const char* name);
// Number of named values in the key (0 when absent).
DWORD CountSettingsValues();

// Makes the settings key impossible to open or create: its parent becomes a
// volatile key, under which no lasting key can be created. Undo with
// DeleteSettingsKey() followed by RestoreSettingsParent().
void MakeSettingsKeyUnusable();
void RestoreSettingsParent();

// Takes the right to set values and create subkeys in the settings key from
// everyone, as the key looks to a program without elevation where its rights
// were not opened to users; reading stays allowed. Undone by
// AllowSettingsWrites() and by DeleteSettingsKey().
void DenySettingsWrites();
void AllowSettingsWrites();

// Makes HKLM\PATH (the settings' view) a registry link to HKLM\TARGET of the
// same view, as a user with every right on the platform's profile tree could.
// False when it cannot.
bool PlantLink(const char* path, const char* target);
// Removes a link made so, itself only; nothing when PATH is no link.
void RemoveLink(const char* path);

// Stores a complete set of settings as text.
void StoreSettings(int portIndex, int maxPosition, const char* stepSize, int speed);

}  // namespace testregistry
