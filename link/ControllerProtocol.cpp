#include "link/ControllerProtocol.h"

#include <cstdio>
#include <cstring>

#include "numbertext/NumberText.h"

namespace protocol {
namespace {

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

const char* SpeedCommand(int32_t speed) {
    switch (speed) {
        case 0: return "FCS000010";
        case 2: return "FCS000030";
        default: return "FCS000020";
    }
}

void FormatMoveCommand(int32_t target, char (&command)[kMoveCommandCapacity]) {
    std::snprintf(command, sizeof command, "FA0%05li#", static_cast<long>(target));
}

void CleanReply(const char* reply, char (&cleaned)[kFrameSize + 1]) {
    std::memset(cleaned, 0, sizeof cleaned);
    // No text at all decodes like a silent line rather than crashing the caller.
    if (reply == nullptr) return;
    size_t length = 0;
    while (length < kFrameSize && reply[length] != '\0') {
        cleaned[length] = reply[length];
        ++length;
    }
    while (length > 0 && cleaned[length - 1] == '#') cleaned[--length] = '\0';
    for (size_t i = 0; i < length; ++i) {
        if (cleaned[i] == ' ') cleaned[i] = '0';
    }
}

DecodedReply DecodeReply(const char* reply) {
    // Room past the frame so that a payload offset beyond a short reply reads
    // NULs, which parse as "no digits".
    char text[kFrameSize + 1 + 4] = {};
    char cleaned[kFrameSize + 1];
    CleanReply(reply, cleaned);
    std::memcpy(text, cleaned, sizeof cleaned);

    DecodedReply result;
    if (StartsWith(text, "FDV") || StartsWith(text, "FDS")) {
        result.kind = ReplyKind::PositionNotice;
        result.recognised = true;
    } else if (StartsWith(text, "FD")) {
        result.kind = ReplyKind::Position;
        result.position = numbertext::ParseInteger(text + 2);
        result.recognised = true;
    } else if (StartsWith(text, "FT")) {
        result.kind = ReplyKind::Temperature;
        numbertext::ParseReal(text + 2, numbertext::Strictness::Lenient, result.temperature);
        result.recognised = true;
    } else if (StartsWith(text, "FP") || StartsWith(text, "FS")) {
        result.kind = ReplyKind::Acknowledgement;
        result.recognised = true;
    } else if (StartsWith(text, "FU")) {
        result.kind = ReplyKind::Status;
        // Flags 1 to 5 are the fourth to eighth characters; a short reply
        // leaves the missing ones cleared.
        for (int i = 0; i < kStatusFlagCount; ++i) result.status[i] = text[3 + i] == '1';
        result.recognised = true;
    } else if (StartsWith(text, "FC")) {
        result.kind = ReplyKind::Completion;
        result.completionCode = numbertext::ParseInteger(text + 3);
        result.recognised = result.completionCode == 0;
    }
    return result;
}

}  // namespace protocol
