#include "link/FocuserSession.h"

#include <cstdio>
#include <utility>

FocuserSession::FocuserSession(ExchangeObserver* observer) { m_link.SetObserver(observer); }

ConnectResult FocuserSession::Connect(const Opener& open, const char* device, int32_t speed,
                                      std::string& reason) {
    m_link.Disconnect();
    std::unique_ptr<Line> line = open(device, reason);
    if (!line) return ConnectResult::CouldNotOpen;
    if (!m_link.Connect(std::move(line))) return ConnectResult::DidNotRespond;
    m_link.ApplySpeed(speed);
    return ConnectResult::Connected;
}

bool FocuserSession::Move(int32_t target, int32_t maxPosition, const char*& message) {
    if (m_link.QueryMoving()) {
        message = focuser_message::kAlreadyMoving;
        return false;
    }
    if (target < 0 || target > maxPosition) {
        message = focuser_message::kOutOfRange;
        return false;
    }
    // MoveTo asks for the status once more before it sends: a move is never
    // sent on an answer older than its own exchange.
    if (!m_link.MoveTo(target)) {
        message = focuser_message::kLinkFail;
        return false;
    }
    return true;
}

bool FocuserSession::ReadPosition(int32_t& position, const char*& message) {
    if (m_link.ReadPosition(position)) return true;
    message = focuser_message::kLinkFail;
    return false;
}

bool FocuserSession::ReadTemperature(float& temperature, const char*& message) {
    if (m_link.ReadTemperature(temperature)) return true;
    message = focuser_message::kNoResponse;
    return false;
}

void FormatConnectFailure(ConnectResult result, const char* device, char* text, size_t size) {
    switch (result) {
        case ConnectResult::CouldNotOpen:
            std::snprintf(text, size, focuser_message::kCouldNotOpen, device);
            return;
        case ConnectResult::DidNotRespond:
            std::snprintf(text, size, "%s", focuser_message::kDidNotRespond);
            return;
        case ConnectResult::Connected:
            break;
    }
    text[0] = '\0';
}

std::string ConnectFailureMessage(ConnectResult result, const char* device,
                                  const std::string& reason) {
    // Measured first, so a long device path is never cut.
    const int length = std::snprintf(nullptr, 0, focuser_message::kCouldNotOpen, device) +
                       static_cast<int>(sizeof focuser_message::kDidNotRespond);
    std::string message(static_cast<size_t>(length), '\0');
    FormatConnectFailure(result, device, &message[0], message.size());
    message.resize(std::char_traits<char>::length(message.c_str()));
    if (result == ConnectResult::CouldNotOpen && !reason.empty()) message += ": " + reason;
    return message;
}
