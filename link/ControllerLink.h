#pragma once
// The driver's path to the focuser controller: the line it owns while
// connected, the command/reply exchange and the controller values the replies
// carry. Pure code over a Line, so every exchange can be scripted.
#include <cstdint>
#include <memory>

#include "link/ControllerProtocol.h"
#include "link/ExchangeObserver.h"
#include "link/Line.h"

// The controller's five status flags, in the order its status reply carries
// them.
struct ControllerStatus {
    bool flags[protocol::kStatusFlagCount] = {};

    bool Moving() const { return flags[protocol::kMovingFlag]; }
};

class ControllerLink {
public:
    ControllerLink() = default;
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    // Takes an open line and asks for the position as the test that a
    // controller answers. Without an answer the line is released again
    // (closing it) and false is returned.
    bool Connect(std::unique_ptr<Line> line);
    // Releases the line, closing it. Nothing is sent to the controller.
    void Disconnect() { m_line.reset(); }
    bool IsConnected() const { return m_line != nullptr; }

    // Every exchange from now on is shown to observer (nullptr: to nobody).
    // The observer must outlive the link or be replaced first.
    void SetObserver(ExchangeObserver* observer) { m_observer = observer; }

    // One exchange: purge, write the command as 9 bytes, read up to 9 bytes,
    // decode whatever arrived. A write that does not go out whole counts as no
    // reply: nothing is read. An exchange without a recognised reply ends
    // with a second purge, so nothing it queued goes out later. False without
    // touching the line when there is none or the command is longer than 9
    // characters.
    bool SendCommand(const char* command);

    // Each reads what the last reply of its kind said, so a reply of another
    // kind still succeeds with the older value. Outputs are untouched on
    // failure.
    bool ReadPosition(int32_t& position);
    bool ReadTemperature(float& temperature);
    bool ReadStatus(ControllerStatus& status);
    // Flag 2 of a fresh status reply; false when there is no answer.
    bool QueryMoving();
    bool FindHome();
    bool ZeroPosition();
    // Sends the speed command for speed (0 slow, 1 medium, 2 fast).
    bool ApplySpeed(int32_t speed);
    // False without sending the move when the focuser is moving, when there is
    // no line, or when the target does not fit the 9-character command.
    bool MoveTo(int32_t target);

private:
    std::unique_ptr<Line> m_line;
    ExchangeObserver* m_observer = nullptr;
    // What the last reply of each kind said; nothing clears them, not even a
    // new connection.
    int32_t m_position = 0;
    float m_temperature = 0.0f;
    bool m_status[protocol::kStatusFlagCount] = {};
};
