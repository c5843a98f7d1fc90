#pragma once
// The controller's fixed-length command protocol, as pure text handling: the
// command texts, and the cleaning and decoding of the replies. Nothing here
// touches a port, so it is tested and fuzzed on its own.
#include <cstddef>
#include <cstdint>

namespace protocol {

// Every command is sent as exactly this many bytes, and every reply is read as
// up to this many.
constexpr size_t kFrameSize = 9;
// The line runs at this rate, 8 data bits, no parity, one stop bit.
constexpr uint32_t kBaudRate = 9600;

constexpr const char kReadPosition[] = "FG0000000";
constexpr const char kReadStatus[] = "FU0000000";
constexpr const char kReadTemperature[] = "FT0000000";
constexpr const char kFindHome[] = "FCR000000";
constexpr const char kZeroPosition[] = "FCP000000";

constexpr int kStatusFlagCount = 5;
// Index into the status flags of the flag that is set while the focuser moves
// (the controller's flag 2).
constexpr int kMovingFlag = 1;

// The speed command for a stored speed: 0 slow, 1 medium, 2 fast; anything
// else is treated as medium.
const char* SpeedCommand(int32_t speed);

// "FA0%05i#" with the target. Targets 0 to 99999 give nine characters; larger
// ones give a longer text that the exchange refuses to send.
constexpr size_t kMoveCommandCapacity = 32;
void FormatMoveCommand(int32_t target, char (&command)[kMoveCommandCapacity]);

enum class ReplyKind {
    Unrecognised,
    PositionNotice,  // "FDV" / "FDS": accepted, payload not used
    Position,        // "FD"
    Temperature,     // "FT"
    Acknowledgement, // "FP" / "FS": accepted, payload not used
    Status,          // "FU"
    Completion,      // "FC"
};

struct DecodedReply {
    ReplyKind kind = ReplyKind::Unrecognised;
    // The decoder's verdict: false for an unrecognised reply and for a
    // completion code other than 0.
    bool recognised = false;
    int32_t position = 0;                       // valid for Position
    float temperature = 0.0f;                   // valid for Temperature
    bool status[kStatusFlagCount] = {};         // valid for Status
    int32_t completionCode = 0;                 // valid for Completion
};

// Cleans the reply (trailing '#' removed, then every blank turned into '0')
// into a terminated buffer of at least kFrameSize + 1 bytes.
void CleanReply(const char* reply, char (&cleaned)[kFrameSize + 1]);

// Cleans and decodes a reply: the text received, up to its first NUL, of at
// most kFrameSize characters (longer input is cut there).
DecodedReply DecodeReply(const char* reply);

}  // namespace protocol
