#include "sim/ControllerFaults.h"

#include <cstdio>
#include <utility>

namespace {

// Every byte with bits flipped, as a line at the wrong settings delivers it:
// nothing printable survives, so no reply can be mistaken for another.
std::string Garble(std::string bytes) {
    for (char& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) ^ 0xA5);
    return bytes;
}

// Commands that a controller acknowledges with a completion code.
bool IsAction(const std::string& frame) {
    return frame.compare(0, 2, "FC") == 0 || frame.compare(0, 2, "FA") == 0;
}

}  // namespace

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None: return "none";
        case Fault::Silent: return "silent";
        case Fault::Garbled: return "garbled";
        case Fault::Short: return "short";
        case Fault::Slow: return "slow";
        case Fault::Refusing: return "refuse";
        case Fault::StopAfter: return "stop-after";
        case Fault::Chatter: return "chatter";
    }
    return "?";
}

unsigned DefaultFaultAmount(Fault fault) {
    switch (fault) {
        case Fault::Short: return 4;       // bytes
        case Fault::Slow: return 300;      // ms: well past the driver's 136 ms read
        case Fault::Refusing: return 1;    // completion code
        case Fault::StopAfter: return 10;  // commands
        case Fault::Chatter: return 20;    // ms
        default: return 0;
    }
}

ControllerEmulator::Responder ControllerFaults::Wrap(ControllerEmulator::Responder inner) {
    return [this, inner = std::move(inner)](const std::string& frame, double nowMs) {
        return Apply(frame, nowMs, m_frames++, inner);
    };
}

ControllerEmulator::Response ControllerFaults::Apply(
    const std::string& frame, double nowMs, size_t frameIndex,
    const ControllerEmulator::Responder& inner) const {
    const FaultSettings settings = Settings();
    const unsigned amount = settings.amount;
    if (m_muted) return {};
    switch (settings.fault) {
        case Fault::Silent:
            return {};
        case Fault::StopAfter:
            if (frameIndex >= amount) return {};
            return inner(frame, nowMs);
        case Fault::Refusing:
            if (IsAction(frame)) {
                char reply[16];
                std::snprintf(reply, sizeof reply, "FC%07u", amount % 10000000u);
                return {reply, 0};
            }
            return inner(frame, nowMs);
        default:
            break;
    }

    ControllerEmulator::Response response = inner(frame, nowMs);
    switch (settings.fault) {
        case Fault::Garbled:
            response.bytes = Garble(response.bytes);
            break;
        case Fault::Short:
            if (response.bytes.size() > amount) response.bytes.resize(amount);
            break;
        case Fault::Slow:
            response.delayMs += amount;
            break;
        case Fault::Chatter:
            response.unasked = kChatter;
            response.unaskedDelayMs = amount;
            break;
        default:
            break;
    }
    return response;
}
