#pragma once
// The driver's path to the focuser controller: the open port, the
// command/reply exchange and the controller values the replies carry. The
// driver object inherits it, so the operations are the driver's own members.
#include <cstdint>
#include <memory>

#include "link/ControllerProtocol.h"
#include "link/SerialPort.h"

class ControllerLink {
public:
    enum class ConnectResult { Connected, OutOfMemory, OpenFailed, NoResponse };

    // Opens the port at 9600 baud, 8N1, and asks for the position as the test
    // that a controller answers. On any failure the port is closed and freed
    // again and the link stays without a port.
    ConnectResult Connect(const char* deviceName);
    // Closes and frees the port. Nothing is sent to the controller.
    void Disconnect();
    bool HasPort() const { return m_port != nullptr; }

    // One exchange: purge, write the command as 9 bytes, read up to 9 bytes,
    // decode whatever arrived. False without touching the port when there is
    // no port or the command is longer than 9 characters.
    bool SendCommand(const char* command);

    bool ReadPosition(int32_t& position);
    bool ReadStatus(bool& flag1, bool& flag2, bool& flag3, bool& flag4, bool& flag5);
    // Flag 2 of a fresh status reply; false when there is no answer.
    bool QueryMoving();
    bool ReadTemperature();
    bool FindHome();
    bool ZeroPosition();
    // Sends the speed command for the speed stored at this moment.
    bool ApplySpeed();
    // False without sending the move when the focuser is moving, when there is
    // no port, or when the target does not fit the 9-character command.
    bool MoveTo(int32_t target);

    int32_t LastPosition() const { return m_position; }
    float LastTemperature() const { return m_temperature; }

protected:
    ControllerLink() = default;
    ~ControllerLink() = default;
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    std::unique_ptr<SerialPort> m_port;
    // What the last reply of each kind said; nothing clears them.
    int32_t m_position = 0;
    float m_temperature = 0.0f;
    bool m_status[protocol::kStatusFlagCount] = {};
};
