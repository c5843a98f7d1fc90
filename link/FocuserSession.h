#pragma once
// One focuser as every front end drives it: connecting (open, handshake,
// speed), the order of checks before a move, and the one-line messages a
// client is shown. The DLL's COM class and the network server both sit on
// this, so the rules exist once. Not thread-safe: callers serialise.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/ControllerLink.h"
#include "link/ExchangeObserver.h"
#include "link/Line.h"

// The messages a client sees, word for word the same in every front end.
namespace focuser_message {
constexpr const char kAlreadyMoving[] = "Focuser already in motion";
constexpr const char kOutOfRange[] = "Value out of range";
constexpr const char kLinkFail[] = "Link fail";
constexpr const char kOutOfMemory[] = "Out of memory";
// printf format with the device name.
constexpr const char kCouldNotOpen[] = "Could not open port %s";
constexpr const char kDidNotRespond[] = "Focuser did not respond";
constexpr const char kNoResponse[] = "No response";
}  // namespace focuser_message

enum class ConnectResult {
    Connected,
    CouldNotOpen,   // the opener gave no line
    DidNotRespond,  // the line opened but the position query got no recognised answer
};

class FocuserSession {
public:
    // Opens device and returns the line, or nullptr when it cannot. It may put
    // a few words on why into reason (left empty, nothing is added to the
    // message). Whatever it opened and gave up on must be closed before it
    // returns.
    using Opener = std::function<std::unique_ptr<Line>(const char* device, std::string& reason)>;

    explicit FocuserSession(ExchangeObserver* observer = nullptr);
    FocuserSession(const FocuserSession&) = delete;
    FocuserSession& operator=(const FocuserSession&) = delete;

    // Opens the line, asks the position as the handshake, then sends the
    // speed command; a speed that is not acknowledged does not undo the
    // connection. A failed connect leaves nothing open. Connecting while
    // connected closes the old line first.
    ConnectResult Connect(const Opener& open, const char* device, int32_t speed,
                          std::string& reason);
    void Disconnect() { m_link.Disconnect(); }
    bool IsConnected() const { return m_link.IsConnected(); }

    // Checks in this order: moving ("Focuser already in motion", whatever the
    // target), the range 0..maxPosition ("Value out of range"), then the link
    // ("Link fail"). message is set only on failure.
    bool Move(int32_t target, int32_t maxPosition, const char*& message);
    bool ReadPosition(int32_t& position, const char*& message);        // "Link fail"
    bool ReadTemperature(float& temperature, const char*& message);    // "No response"
    // False when there is no answer, as well as when it is not moving.
    bool IsMoving() { return m_link.QueryMoving(); }
    bool ReadStatus(ControllerStatus& status) { return m_link.ReadStatus(status); }
    bool FindHome() { return m_link.FindHome(); }
    bool ZeroPosition() { return m_link.ZeroPosition(); }
    // Unconnected, sends nothing and returns false.
    bool ApplySpeed(int32_t speed) { return m_link.ApplySpeed(speed); }

    // The link underneath, for a settings page that sends its own commands.
    ControllerLink& Link() { return m_link; }

private:
    ControllerLink m_link;
};

// The client's message for a failed connect, cut to fit size (which must be
// at least 1). Nothing is allocated, so it works when memory has run out.
void FormatConnectFailure(ConnectResult result, const char* device, char* text, size_t size);
// The same as a string, followed by ": REASON" when the opener gave one.
std::string ConnectFailureMessage(ConnectResult result, const char* device,
                                  const std::string& reason);
