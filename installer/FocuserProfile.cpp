// FocuserProfile.exe install | uninstall [keep]: the installer's and the
// uninstaller's work on the driver's profile key (installer/ProfileSetup.h),
// run with their administrator rights. It prints the lines for the details
// list and exits with the code the installer acts on: 0 done, 1 failed,
// 2 a bad command line, 5 installed but not opened to users.
#include <cstdio>
#include <cstring>
#include <string>

#include "installer/ProfileSetup.h"

int main(int argc, char** argv) {
    std::string notes;
    int status = 2;
    if (argc == 2 && std::strcmp(argv[1], "install") == 0) {
        status = profilesetup::Install(notes);
    } else if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "uninstall") == 0 &&
               (argc == 2 || std::strcmp(argv[2], "keep") == 0)) {
        status = profilesetup::Uninstall(argc == 3, notes);
    } else {
        notes = "usage: FocuserProfile.exe install | uninstall [keep]\n";
    }
    // The installer takes the lines as one text: no new line after the last.
    if (!notes.empty() && notes.back() == '\n') notes.pop_back();
    std::fputs(notes.c_str(), stdout);
    return status;
}
