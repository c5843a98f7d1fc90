#include "alpaca/SetupPages.h"

#include <arpa/inet.h>
#include <strings.h>

#include "settings/SettingsText.h"

namespace {

constexpr const char kFormPath[] = "/setup/v1/focuser/0/setup";

const std::string* Field(const Parameters& form, const char* name) {
    for (const auto& field : form) {
        if (field.first == name) return &field.second;
    }
    return nullptr;
}

std::string Head(const std::string& title) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title +
           "</title><style>body{font-family:sans-serif;max-width:40em;margin:2em}"
           "label{display:block;margin:.5em 0}.notice{font-weight:bold}</style></head><body>\n";
}

}  // namespace

std::string SetupPages::Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

bool SetupPages::NamesServer(const std::string& host, const std::string& origin, uint16_t port,
                             const std::string& machineName, std::string& reason) {
    std::string name = host;
    std::string hostPort = "80";
    if (!name.empty() && name[0] == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos) name.clear();
        else {
            if (close + 1 < name.size() && name[close + 1] == ':') hostPort = name.substr(close + 2);
            name = name.substr(1, close - 1);
        }
    } else {
        const size_t colon = name.rfind(':');
        if (colon != std::string::npos) {
            hostPort = name.substr(colon + 1);
            name = name.substr(0, colon);
        }
    }
    unsigned char address[16];
    const bool literal = inet_pton(AF_INET, name.c_str(), address) == 1 ||
                         inet_pton(AF_INET6, name.c_str(), address) == 1;
    const bool ours = literal || strcasecmp(name.c_str(), "localhost") == 0 ||
                      (!machineName.empty() && (strcasecmp(name.c_str(), machineName.c_str()) == 0 ||
                                                strcasecmp(name.c_str(), (machineName + ".local").c_str()) == 0));
    if (!ours || hostPort != std::to_string(port)) {
        reason = "Refused: the request's Host (" + host.substr(0, 80) +
                 ") does not name this server; use its address, localhost or the machine's name.";
        return false;
    }
    if (!origin.empty() && strcasecmp(origin.c_str(), ("http://" + host).c_str()) != 0) {
        reason = "Refused: a page from " + origin.substr(0, 80) +
                 " may not change this server's settings or move the focuser.";
        return false;
    }
    return true;
}

bool SetupPages::ReadForm(const Parameters& form, ServerSettingsValues& values,
                          std::string& reason) {
    const std::string* device = Field(form, "Device");
    if (device != nullptr) {
        if (device->empty() || device->size() > 255) {
            reason = "The serial device must be a path of 1 to 255 characters.";
            return false;
        }
        for (char c : *device) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                reason = "The serial device's path may not hold control characters.";
                return false;
            }
        }
        values.device = *device;
    }
    // The store's own rules: what does not read as a number keeps the
    // default, and everything is forced into range.
    if (const std::string* text = Field(form, "MaxPosition")) {
        values.maxPosition = settingstext::LoadMaxPosition(text->c_str());
    }
    if (const std::string* text = Field(form, "StepSize")) {
        values.stepSize = settingstext::LoadStepSize(text->c_str());
    }
    if (const std::string* text = Field(form, "Speed")) {
        values.speed = settingstext::LoadSpeed(text->c_str());
    }
    return true;
}

std::string SetupPages::Page(const std::string& notice) const {
    const ServerSettingsValues settings = m_device.Settings();
    char maxPosition[settingstext::kTextCapacity];
    char stepSize[settingstext::kTextCapacity];
    settingstext::IntegerText(settings.maxPosition, maxPosition);
    settingstext::StepSizeText(settings.stepSize, stepSize);
    const bool connected = m_device.IsConnected();
    std::string page = Head("Tavrilen Focuser setup");
    page += "<h1>Tavrilen Focuser</h1>\n<p>Tavrilen Astrograph motorised focuser, made by "
            "Tavrilen; device server version " FOCUSER_VERSION ". Device UniqueID " +
            Escape(settings.uniqueId) + ".</p>\n";
    if (!notice.empty()) page += "<p class=\"notice\">" + Escape(notice) + "</p>\n";
    page += std::string("<p>") +
            (connected ? "Connected to " + Escape(settings.device) + "." : "Not connected.") +
            "</p>\n";
    page += std::string("<form method=\"post\" action=\"") + kFormPath + "\">\n";
    page += "<label>Serial device <input name=\"Device\" value=\"" + Escape(settings.device) +
            "\"" + (connected ? " readonly" : "") + "></label>\n";
    page += "<label>Maximum position (0 to " + std::to_string(settingstext::kMaxMaxPosition) +
            ") <input name=\"MaxPosition\" value=\"" + maxPosition + "\"></label>\n";
    page += "<label>Step size in microns <input name=\"StepSize\" value=\"" +
            std::string(stepSize) + "\"></label>\n";
    page += "<label>Speed <select name=\"Speed\">";
    const char* speeds[] = {"Slow", "Medium", "Fast"};
    for (int i = 0; i <= settingstext::kMaxSpeed; ++i) {
        page += "<option value=\"" + std::to_string(i) + "\"" +
                (settings.speed == i ? " selected" : "") + ">" + speeds[i] + "</option>";
    }
    page += "</select></label>\n<button name=\"Do\" value=\"save\">Save</button>\n</form>\n";
    page += std::string("<form method=\"post\" action=\"") + kFormPath + "\">\n" +
            "<button name=\"Do\" value=\"zero\"" + (connected ? "" : " disabled") +
            ">Zero Position</button>\n<button name=\"Do\" value=\"home\"" +
            (connected ? "" : " disabled") + ">Find Home</button>\n</form>\n</body></html>\n";
    return page;
}

std::string SetupPages::Post(const Parameters& form, int& status) {
    status = 200;
    const std::string* action = Field(form, "Do");
    const std::string what = action != nullptr ? *action : "save";
    if (what == "home") {
        std::string page = Head("Tavrilen Focuser: Find Home");
        page += "<p class=\"notice\">" + Escape(kFindHomeQuestion) + "</p>\n";
        page += std::string("<form method=\"post\" action=\"") + kFormPath + "\">" +
                "<button name=\"Do\" value=\"home-confirmed\">Yes</button></form>\n" +
                "<p><a href=\"" + kFormPath + "\">No</a></p>\n</body></html>\n";
        return page;
    }
    if (what == "home-confirmed" || what == "zero") {
        const DeviceAnswer answer =
            what == "zero" ? m_device.ZeroPosition() : m_device.FindHome();
        if (answer.Failed()) status = 409;
        return Page(answer.Failed() ? answer.errorMessage
                                    : (what == "zero" ? "Position set to zero."
                                                      : "Finding home."));
    }
    if (what != "save") {
        status = 400;
        return Page("Unknown command.");
    }
    ServerSettingsValues values = m_device.Settings();
    std::string reason;
    if (!ReadForm(form, values, reason)) {
        status = 400;
        return Page(reason);
    }
    if (!m_device.ChangeSettings(values, reason)) {
        status = 409;
        return Page(reason);
    }
    return Page("Settings saved.");
}
