#pragma once
// What an HTTP request under /api/ asks of the focuser, worked out without
// sockets: the member, the verb, the client's IDs and the member's value, or
// the reason for a 400. The fuzzer and most tests go through here.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

enum class Member {
    Connected, Connect, Disconnect, Connecting, DeviceState,
    Absolute, IsMoving, MaxIncrement, MaxStep, Position, StepSize,
    TempComp, TempCompAvailable, Temperature, Halt, Move,
    Description, DriverInfo, DriverVersion, InterfaceVersion, Name, SupportedActions,
    Action, CommandBlind, CommandBool, CommandString,
};

enum class Verb { Get, Put, Other };

// Parameters as they came, in order; a name may repeat (the first counts).
using Parameters = std::vector<std::pair<std::string, std::string>>;

struct ApiCall {
    Member member = Member::Name;
    Verb verb = Verb::Get;
    uint32_t clientId = 0;             // 0 when absent
    uint32_t clientTransactionId = 0;  // 0 when absent
    bool flag = false;                 // Connected, TempComp
    int32_t position = 0;              // Move
    std::string action;                // Action
};

class ApiRequest {
public:
    // path is the request's path without the query; query holds the query
    // string's parameters and form the body's (used only for PUT). False with
    // a one-line reason when the answer must be 400.
    static bool Parse(const std::string& path, Verb verb, const Parameters& query,
                      const Parameters& form, ApiCall& call, std::string& reason);

    // A query string or an application/x-www-form-urlencoded body, decoded.
    static Parameters ParseParameters(const std::string& text);

    // The ID fields' rule: a whole number 0..4294967295 in plain digits.
    static bool ParseId(const std::string& text, uint32_t& value);
    // "true"/"false" in any letter case.
    static bool ParseBool(const std::string& text, bool& value);
    // An optional '-' and plain digits that fit 32 bits.
    static bool ParseInt32(const std::string& text, int32_t& value);
};
