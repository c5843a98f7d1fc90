#pragma once
// The installer's work on the driver's profile key, done by FocuserProfile.exe
// with administrator rights: the key made and closed to what users may do,
// and on removal the driver's values taken out of it, each time through the
// one handle opened by profilekey::Open. What the installer should show goes
// to NOTES, a line each.
#include <windows.h>

#include <string>

namespace profilesetup {

// Called once the key is open and before anything is done through it: the
// tests' way in between the first look at the key and the work.
using Pause = void (*)();

// The exit codes FocuserProfile.exe passes on to the installer.
constexpr int kDone = 0;
constexpr int kFailed = 1;
// The key is there with the settings, but not yet closed to users.
constexpr int kRightsNotSet = 5;

// Makes the profile key (a link in its place goes), moves the settings an
// uninstall kept back into it, and gives it our descriptor: owner
// Administrators, a DACL protected from inheritance holding full control for
// SYSTEM and Administrators and exactly KEY_READ | KEY_CREATE_SUB_KEY |
// KEY_SET_VALUE for Users.
int Install(std::string& notes, Pause pause = nullptr);

// Takes the driver's values and then the key itself out, keeping the settings
// aside first when KEEP. A key holding subkeys stays, emptied of our values.
int Uninstall(bool keep, std::string& notes, Pause pause = nullptr);

}  // namespace profilesetup
