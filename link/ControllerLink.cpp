#include "link/ControllerLink.h"

#include <algorithm>
#include <cstring>
#include <iterator>

bool ControllerLink::Connect(std::unique_ptr<Line> line) {
    m_line = std::move(line);
    int32_t position = 0;
    if (ReadPosition(position)) return true;
    Disconnect();
    return false;
}

bool ControllerLink::SendCommand(const char* command) {
    if (!m_line) return false;
    if (std::strlen(command) > protocol::kFrameSize) return false;

    char buffer[protocol::kFrameSize + 1] = {};
    std::memcpy(buffer, command, std::strlen(command));
    // A failed purge or read is not an error of its own: the reply is decoded
    // from whatever arrived, and nothing is a recognised reply.
    m_line->Purge();
    if (m_observer) m_observer->ExchangeStarting();
    const bool sent = m_line->Write(buffer, protocol::kFrameSize);
    std::memset(buffer, 0, sizeof buffer);
    // A frame that did not go out whole gets no reply, so nothing is read.
    const size_t received = sent ? m_line->Read(buffer, protocol::kFrameSize) : 0;

    const protocol::DecodedReply reply = protocol::DecodeReply(buffer);
    // A write reported complete may only have reached an adapter's own buffer
    // while the line is held. Whatever of a failed exchange is still queued
    // goes now: a move reported as failed must not start later, when the line
    // is released.
    if (!reply.recognised) m_line->Purge();
    if (m_observer) {
        m_observer->ExchangeEnded(command, buffer, std::min(received, protocol::kFrameSize), reply);
    }
    switch (reply.kind) {
        case protocol::ReplyKind::Position:
            m_position = reply.position;
            break;
        case protocol::ReplyKind::Temperature:
            m_temperature = reply.temperature;
            break;
        case protocol::ReplyKind::Status:
            std::memcpy(m_status, reply.status, sizeof m_status);
            break;
        default:
            break;
    }
    return reply.recognised;
}

bool ControllerLink::ReadPosition(int32_t& position) {
    if (!SendCommand(protocol::kReadPosition)) return false;
    position = m_position;
    return true;
}

bool ControllerLink::ReadTemperature(float& temperature) {
    if (!SendCommand(protocol::kReadTemperature)) return false;
    temperature = m_temperature;
    return true;
}

bool ControllerLink::ReadStatus(ControllerStatus& status) {
    if (!SendCommand(protocol::kReadStatus)) return false;
    std::copy(std::begin(m_status), std::end(m_status), std::begin(status.flags));
    return true;
}

bool ControllerLink::QueryMoving() {
    ControllerStatus status;
    return ReadStatus(status) && status.Moving();
}

bool ControllerLink::FindHome() { return SendCommand(protocol::kFindHome); }

bool ControllerLink::ZeroPosition() { return SendCommand(protocol::kZeroPosition); }

bool ControllerLink::ApplySpeed(int32_t speed) {
    return SendCommand(protocol::SpeedCommand(speed));
}

bool ControllerLink::MoveTo(int32_t target) {
    if (QueryMoving()) return false;
    if (!m_line) return false;
    char command[protocol::kMoveCommandCapacity];
    protocol::FormatMoveCommand(target, command);
    return SendCommand(command);
}
