// Commands: the first four bytes of the input are a move target, and a speed.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "numbertext/NumberText.h"
#include "fuzz/FuzzCheck.h"
#include "link/ControllerProtocol.h"

namespace fuzzcheck {

void CheckCommand(const uint8_t* data, size_t size) {
    int32_t target = 0;
    std::memcpy(&target, data, std::min(size, sizeof target));
    const std::string shown = "target " + std::to_string(target);

    char command[protocol::kMoveCommandCapacity];
    std::memset(command, 'x', sizeof command);
    protocol::FormatMoveCommand(target, command);
    FUZZ_EXPECT(std::memchr(command, '\0', sizeof command) != nullptr, shown);
    const size_t length = strnlen(command, sizeof command);

    // "FA0%05i#": a minus sign counts towards the five, so from -9999 to 99999
    // the command fits the frame; everything else is longer and never sent.
    const bool fitsFrame = target >= -9999 && target <= 99999;
    FUZZ_EXPECT((length == protocol::kFrameSize) == fitsFrame, shown + ": " + command);
    FUZZ_EXPECT(length >= protocol::kFrameSize, shown + ": " + command);
    char expected[64];
    std::snprintf(expected, sizeof expected, "FA0%05i#", static_cast<int>(target));
    FUZZ_EXPECT(std::strcmp(command, expected) == 0, shown + ": " + command);
    FUZZ_EXPECT(numbertext::ParseInteger(command + 3) == target, shown + ": " + command);

    const char* speed = protocol::SpeedCommand(target);
    const char* expectedSpeed = target == 0 ? "FCS000010" : target == 2 ? "FCS000030" : "FCS000020";
    FUZZ_EXPECT(std::strcmp(speed, expectedSpeed) == 0, shown + ": " + speed);
}

}  // namespace fuzzcheck
