#include "alpaca/ApiRequest.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

#include <httplib.h>

namespace {

constexpr const char kPrefix[] = "/api/v1/focuser/0/";

struct MemberInfo {
    const char* path;
    Member member;
    Verb verb;
    const char* field;  // the value a PUT must carry, or nullptr
};

// Every member and the one verb it answers to; connected appears for both.
constexpr MemberInfo kMembers[] = {
    {"connected", Member::Connected, Verb::Get, nullptr},
    {"connected", Member::Connected, Verb::Put, "Connected"},
    {"connect", Member::Connect, Verb::Put, nullptr},
    {"disconnect", Member::Disconnect, Verb::Put, nullptr},
    {"connecting", Member::Connecting, Verb::Get, nullptr},
    {"devicestate", Member::DeviceState, Verb::Get, nullptr},
    {"absolute", Member::Absolute, Verb::Get, nullptr},
    {"ismoving", Member::IsMoving, Verb::Get, nullptr},
    {"maxincrement", Member::MaxIncrement, Verb::Get, nullptr},
    {"maxstep", Member::MaxStep, Verb::Get, nullptr},
    {"position", Member::Position, Verb::Get, nullptr},
    {"stepsize", Member::StepSize, Verb::Get, nullptr},
    {"tempcomp", Member::TempComp, Verb::Get, nullptr},
    {"tempcomp", Member::TempComp, Verb::Put, "TempComp"},
    {"tempcompavailable", Member::TempCompAvailable, Verb::Get, nullptr},
    {"temperature", Member::Temperature, Verb::Get, nullptr},
    {"halt", Member::Halt, Verb::Put, nullptr},
    {"move", Member::Move, Verb::Put, "Position"},
    {"description", Member::Description, Verb::Get, nullptr},
    {"driverinfo", Member::DriverInfo, Verb::Get, nullptr},
    {"driverversion", Member::DriverVersion, Verb::Get, nullptr},
    {"interfaceversion", Member::InterfaceVersion, Verb::Get, nullptr},
    {"name", Member::Name, Verb::Get, nullptr},
    {"supportedactions", Member::SupportedActions, Verb::Get, nullptr},
    {"action", Member::Action, Verb::Put, "Action"},
    {"commandblind", Member::CommandBlind, Verb::Put, "Command"},
    {"commandbool", Member::CommandBool, Verb::Put, "Command"},
    {"commandstring", Member::CommandString, Verb::Put, "Command"},
};

// Query names match in any case; form names only as spelt.
const std::string* Find(const Parameters& parameters, const char* name, bool anyCase) {
    for (const auto& parameter : parameters) {
        const bool same = anyCase ? strcasecmp(parameter.first.c_str(), name) == 0
                                  : parameter.first == name;
        if (same) return &parameter.second;
    }
    return nullptr;
}

bool ReadId(const Parameters& parameters, const char* name, bool anyCase, uint32_t& value,
            std::string& reason) {
    const std::string* text = Find(parameters, name, anyCase);
    if (text == nullptr) return true;
    if (ApiRequest::ParseId(*text, value)) return true;
    reason = std::string(name) + " must be a whole number from 0 to 4294967295, not '" +
             text->substr(0, 40) + "'";
    return false;
}

}  // namespace

Parameters ApiRequest::ParseParameters(const std::string& text) {
    httplib::Params parsed;
    httplib::detail::parse_query_text(text, parsed);
    return Parameters(parsed.begin(), parsed.end());
}

bool ApiRequest::ParseId(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > 4294967295u) return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool ApiRequest::ParseBool(const std::string& text, bool& value) {
    if (strcasecmp(text.c_str(), "true") == 0 && text.size() == 4) {
        value = true;
        return true;
    }
    if (strcasecmp(text.c_str(), "false") == 0 && text.size() == 5) {
        value = false;
        return true;
    }
    return false;
}

bool ApiRequest::ParseInt32(const std::string& text, int32_t& value) {
    const bool negative = !text.empty() && text[0] == '-';
    const size_t digits = text.size() - (negative ? 1 : 0);
    if (digits == 0 || digits > 10) return false;
    int64_t number = 0;
    for (size_t i = negative ? 1 : 0; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
    }
    if (negative) number = -number;
    if (number < INT32_MIN || number > INT32_MAX) return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool ApiRequest::Parse(const std::string& path, Verb verb, const Parameters& query,
                       const Parameters& form, ApiCall& call, std::string& reason) {
    const size_t prefixLength = sizeof kPrefix - 1;
    if (path.compare(0, prefixLength, kPrefix) != 0) {
        reason = "no such device: only /api/v1/focuser/0/ is served here";
        return false;
    }
    const std::string name = path.substr(prefixLength);
    const MemberInfo* info = nullptr;
    bool known = false;
    for (const MemberInfo& candidate : kMembers) {
        if (name != candidate.path) continue;
        known = true;
        if (candidate.verb == verb) info = &candidate;
    }
    if (!known) {
        reason = "no such member: '" + name.substr(0, 40) + "'";
        return false;
    }
    if (info == nullptr) {
        reason = "member '" + name + "' does not answer to this method";
        return false;
    }

    ApiCall parsed;
    parsed.member = info->member;
    parsed.verb = verb;
    const bool get = verb == Verb::Get;
    const Parameters& parameters = get ? query : form;
    if (!ReadId(parameters, "ClientID", true, parsed.clientId, reason)) return false;
    // A PUT's transaction ID counts only when spelt exactly; otherwise it is
    // absent and answered with 0.
    if (!ReadId(parameters, "ClientTransactionID", get, parsed.clientTransactionId, reason)) {
        return false;
    }

    if (info->field != nullptr) {
        const std::string* value = Find(parameters, info->field, false);
        if (value == nullptr) {
            reason = std::string("missing form field ") + info->field;
            return false;
        }
        bool valid = true;
        switch (info->member) {
            case Member::Connected:
            case Member::TempComp: valid = ParseBool(*value, parsed.flag); break;
            case Member::Move: valid = ParseInt32(*value, parsed.position); break;
            case Member::Action: parsed.action = *value; break;
            default: {
                const std::string* raw = Find(parameters, "Raw", false);
                bool ignored = false;
                if (raw == nullptr || !ParseBool(*raw, ignored)) {
                    reason = "missing or malformed form field Raw";
                    return false;
                }
                break;
            }
        }
        if (!valid) {
            reason = std::string("malformed ") + info->field + ": '" + value->substr(0, 40) + "'";
            return false;
        }
    }
    call = parsed;
    return true;
}
