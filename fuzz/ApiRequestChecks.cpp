// Requests to the device server: the first byte picks the verb (even GET,
// odd PUT), the rest is "path\nquery\nbody", decoded as the server decodes
// them and mapped to a member call or a 400.
#include <strings.h>

#include <cstdlib>
#include <string>

#include "alpaca/ApiRequest.h"
#include "fuzz/FuzzCheck.h"

namespace fuzzcheck {

namespace {

std::string Part(const std::string& text, size_t index) {
    size_t start = 0;
    for (size_t i = 0; i < index; ++i) {
        start = text.find('\n', start);
        if (start == std::string::npos) return std::string();
        ++start;
    }
    const size_t end = text.find('\n', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool AllDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

const std::string* Exact(const Parameters& parameters, const char* name) {
    for (const auto& parameter : parameters) {
        if (parameter.first == name) return &parameter.second;
    }
    return nullptr;
}

}  // namespace

void CheckApiRequest(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const Verb verb = data[0] % 2 == 0 ? Verb::Get : Verb::Put;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string shown = Quoted(text.c_str(), text.size());
    const std::string path = Part(text, 0);
    const Parameters query = ApiRequest::ParseParameters(Part(text, 1));
    const Parameters form = ApiRequest::ParseParameters(Part(text, 2));

    ApiCall call;
    std::string reason;
    const bool accepted = ApiRequest::Parse(path, verb, query, form, call, reason);
    FUZZ_EXPECT(accepted == reason.empty(), shown + ": " + reason);
    FUZZ_EXPECT(reason.size() < 200, shown);
    if (!accepted) return;
    FUZZ_EXPECT(path.rfind("/api/v1/focuser/0/", 0) == 0, shown);
    FUZZ_EXPECT(call.verb == verb, shown);

    // The ID that counted is the text's value, digit for digit.
    const Parameters& used = verb == Verb::Get ? query : form;
    for (const auto& parameter : used) {
        if (strcasecmp(parameter.first.c_str(), "ClientTransactionID") != 0) continue;
        if (verb == Verb::Put && parameter.first != "ClientTransactionID") continue;
        FUZZ_EXPECT(AllDigits(parameter.second), shown);
        FUZZ_EXPECT(std::strtoull(parameter.second.c_str(), nullptr, 10) == call.clientTransactionId,
                    shown);
        break;
    }
    if (verb == Verb::Put && Exact(form, "ClientTransactionID") == nullptr) {
        FUZZ_EXPECT(call.clientTransactionId == 0, shown);
    }
    if (call.member == Member::Move) {
        const std::string* position = Exact(form, "Position");
        FUZZ_EXPECT(position != nullptr, shown);
        if (position != nullptr) {
            FUZZ_EXPECT(std::strtoll(position->c_str(), nullptr, 10) == call.position, shown);
        }
    }
    if (call.member == Member::Connected && verb == Verb::Put) {
        const std::string* value = Exact(form, "Connected");
        FUZZ_EXPECT(value != nullptr && strcasecmp(value->c_str(), call.flag ? "true" : "false") == 0,
                    shown);
    }
}

}  // namespace fuzzcheck
