// The controller link over a scripted line. The input is a run of steps: an
// operation byte, a byte that shapes the reply (low four bits its length, then
// whether it comes late, whether the purge fails, whether noise is on the line
// first), and the reply's bytes, which also give the operation's argument.
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "link/ControllerLink.h"
#include "devtools/ScriptedLine.h"

namespace fuzzcheck {
namespace {

enum Operation { kConnect, kDisconnect, kPosition, kTemperature, kMoving, kFindHome,
                 kZero, kSpeed, kMove, kSend, kOperationCount };

// Runs one operation and checks what it alone can tell.
void Run(ControllerLink& link, ScriptedLine& line, int operation, const std::string& reply,
         const std::string& shown) {
    int32_t argument = 0;
    std::memcpy(&argument, reply.data(), std::min(reply.size(), sizeof argument));
    int32_t position = -7;
    float temperature = -7.0f;
    switch (operation) {
        case kConnect:
            if (!link.IsConnected()) {
                const size_t closes = line.Closes();
                const bool connected = link.Connect(line.Open());
                FUZZ_EXPECT(connected == link.IsConnected(), shown);
                FUZZ_EXPECT(line.Closes() == closes + (connected ? 0 : 1), shown);
            }
            break;
        case kDisconnect: link.Disconnect(); break;
        case kPosition:
            if (!link.ReadPosition(position)) FUZZ_EXPECT(position == -7, shown);
            break;
        case kTemperature:
            if (!link.ReadTemperature(temperature)) FUZZ_EXPECT(temperature == -7.0f, shown);
            break;
        case kMoving: link.QueryMoving(); break;
        case kFindHome: link.FindHome(); break;
        case kZero: link.ZeroPosition(); break;
        case kSpeed: link.ApplySpeed(argument); break;
        case kMove: {
            const size_t before = line.Frames().size();
            link.MoveTo(argument);
            const auto& frames = line.Frames();
            for (size_t i = before; i < frames.size(); ++i) {
                const bool move = frames[i].compare(0, 2, "FA") == 0;
                FUZZ_EXPECT(!move || (i == before + 1 && frames[before] == std::string("FU0000000", 9)),
                            shown + ": a move only after its status query");
                FUZZ_EXPECT(!move || (argument >= -9999 && argument <= 99999), shown);
            }
            break;
        }
        case kSend: link.SendCommand(reply.c_str()); break;
    }
}

}  // namespace

void CheckLink(const uint8_t* data, size_t size) {
    ScriptedLine line;
    ControllerLink link;
    size_t at = 0;
    while (at + 2 <= size) {
        const int operation = data[at] % kOperationCount;
        const uint8_t shape = data[at + 1];
        at += 2;
        const size_t length = std::min<size_t>(shape & 0x0F, size - at);
        const std::string reply(reinterpret_cast<const char*>(data + at), length);
        at += length;
        const std::string shown = "step at byte " + std::to_string(at) + ", operation " +
                                  std::to_string(operation) + ", reply " + Quoted(reply.data(), reply.size());

        line.SetPurgeWorks((shape & 0x20) == 0);
        if (shape & 0x40) line.Inject("FD0000777");
        line.AnswerNext({reply, (shape & 0x10) != 0});
        const bool connected = link.IsConnected() || operation == kConnect;
        const size_t frames = line.Frames().size();
        Run(link, line, operation, reply, shown);
        if (!connected) FUZZ_EXPECT(line.Frames().size() == frames, shown + ": sent without a line");
    }

    // Every exchange is a purge, a 9-byte frame padded with NULs, a 9-byte
    // read, and a second purge when it failed.
    const auto& calls = line.Calls();
    size_t exchanges = 0;
    for (size_t i = 0; i < calls.size(); ++exchanges) {
        const std::string shown = "exchange " + std::to_string(exchanges);
        FUZZ_EXPECT(i + 2 < calls.size() && calls[i] == "Purge" && calls[i + 1] == "Write 9" &&
                        calls[i + 2] == "Read 9",
                    shown);
        i += 3;
        if (i < calls.size() && calls[i] == "Purge" && (i + 1 == calls.size() || calls[i + 1] == "Purge")) {
            ++i;
        }
    }
    FUZZ_EXPECT(exchanges == line.Frames().size(), "calls and frames disagree");
    for (const std::string& frame : line.Frames()) {
        const size_t text = std::strlen(frame.c_str());
        FUZZ_EXPECT(frame.size() == 9 && frame.find_first_not_of('\0', text) == std::string::npos,
                    Quoted(frame.data(), frame.size()));
    }
}

}  // namespace fuzzcheck
