#pragma once
// The HTML setup pages: the settings as a form, saved through the atomic
// store with the driver's range rules, and the Zero Position and Find Home
// commands. A state change must come from a page of this server itself: a
// foreign Origin, or a Host that is not this machine (DNS rebinding), is
// refused, so a web page in the user's browser cannot drive the focuser.
#include <cstdint>
#include <string>

#include "alpaca/ApiRequest.h"
#include "alpaca/FocuserDevice.h"

class SetupPages {
public:
    // What the Find Home button asks before it starts, as the dialog does.
    static constexpr const char kFindHomeQuestion[] =
        "Warning:  the focuser will not respond until the command is finished.  Continue?";

    // host and origin are the request's headers (origin empty when absent);
    // port is the server's; machineName the host name. False with the reason
    // when they do not name this server.
    static bool NamesServer(const std::string& host, const std::string& origin, uint16_t port,
                            const std::string& machineName, std::string& reason);

    // Escapes text for HTML.
    static std::string Escape(const std::string& text);

    // The form's fields turned into settings by the store's rules. False with
    // the reason for a device path the file could not hold.
    static bool ReadForm(const Parameters& form, ServerSettingsValues& values, std::string& reason);

    explicit SetupPages(FocuserDevice& device) : m_device(device) {}

    std::string Page(const std::string& notice) const;
    // A posted form: the page to show next and its HTTP status.
    std::string Post(const Parameters& form, int& status);

private:
    FocuserDevice& m_device;
};
