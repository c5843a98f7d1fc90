#pragma once
// The driver's profile key as code with administrator rights must reach it.
//
// Users may be given every right on the platform's profile tree, so any key on
// the way to ours may have been replaced by a registry link to a key of the
// user's choosing. The key is therefore opened one name at a time, each name
// relative to the handle of the key above it and without following a link;
// whoever then holds the handle acts on that key, whatever is put at its path
// later.
#include <windows.h>

#include <string>

namespace profilekey {

// A key on the way to the profile key is a registry link.
constexpr LONG kLinkOnPath = ERROR_CANT_RESOLVE_FILENAME;

// Opens HKLM\<kSettingsKeyPath> in the settings' registry view with ACCESS,
// creating what is missing when CREATE. On success KEY holds it and LINK says
// whether it is a registry link itself (then KEY is the link, not what it
// points at). ERROR_FILE_NOT_FOUND when it is missing and not created,
// kLinkOnPath when a key above it is a link, otherwise the registry's error.
LONG Open(REGSAM access, bool create, HKEY& key, bool& link);

// Whether KEY is a registry link, opened as one.
bool IsLink(HKEY key);

// The full native name of the key KEY stands for ("\\REGISTRY\\MACHINE\\..."),
// empty when the system cannot say.
std::wstring KeyName(HKEY key);

// Deletes the key KEY names, never a subkey: fails while it has any. The
// system's result as a Windows error code.
LONG DeleteKey(HKEY key);

}  // namespace profilekey
