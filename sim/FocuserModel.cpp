#include "sim/FocuserModel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char kAcknowledge[] = "FC0000000";
}

void FocuserModel::Advance(double nowMs) {
    if (nowMs <= m_lastMs) return;
    const double steps = m_rate * (nowMs - m_lastMs) / 1000.0;
    if (m_position < m_target) {
        m_position = std::fmin(m_target, m_position + steps);
    } else if (m_position > m_target) {
        m_position = std::fmax(m_target, m_position - steps);
    }
    m_lastMs = nowMs;
}

int32_t FocuserModel::PositionAt(double nowMs) {
    Advance(nowMs);
    return static_cast<int32_t>(std::lround(m_position));
}

bool FocuserModel::IsMovingAt(double nowMs) {
    Advance(nowMs);
    return m_position != m_target;
}

double FocuserModel::TemperatureAt(double nowMs) const {
    // About a tenth of a degree per minute downwards, as on a clear night.
    return m_temperature - nowMs / 600000.0;
}

std::string FocuserModel::Answer(const std::string& frame, double nowMs) {
    Advance(nowMs);
    const std::string command = frame.substr(0, std::strlen(frame.c_str()));
    char reply[32] = {};
    if (command == "FG0000000") {
        std::snprintf(reply, sizeof reply, "FD%07ld", static_cast<long>(PositionAt(nowMs)));
    } else if (command == "FU0000000") {
        std::snprintf(reply, sizeof reply, "FU00%c0000", IsMovingAt(nowMs) ? '1' : '0');
    } else if (command == "FT0000000") {
        std::snprintf(reply, sizeof reply, "FT%06.2f#", TemperatureAt(nowMs));
    } else if (command == "FCS000010") {
        m_rate = kSlowRate;
        return kAcknowledge;
    } else if (command == "FCS000020") {
        m_rate = kMediumRate;
        return kAcknowledge;
    } else if (command == "FCS000030") {
        m_rate = kFastRate;
        return kAcknowledge;
    } else if (command == "FCP000000") {
        SetPosition(0);
        return kAcknowledge;
    } else if (command == "FCR000000") {
        m_target = 0.0;  // homing: runs back to the home switch at the set rate
        return kAcknowledge;
    } else if (command.size() == 9 && command.compare(0, 3, "FA0") == 0 && command[8] == '#') {
        m_target = std::atoi(command.substr(3, 5).c_str());
        return kAcknowledge;
    } else {
        return std::string();
    }
    return reply;
}
