#include "sim/FocuserModel.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The tube cools towards the night air: a few degrees over some hours, the
// fastest change at the start, about a degree an hour.
constexpr double kCoolingDegrees = 3.0;
constexpr double kCoolingTimeConstantMs = 3.0 * 3600.0 * 1000.0;

std::string Completion(int code) {
    char reply[16];
    std::snprintf(reply, sizeof reply, "FC%07d", code);
    return reply;
}

// The five digits of "FA0ddddd#", or -1 when the command is not that shape.
int32_t MoveTarget(const std::string& command) {
    if (command.size() != 9 || command.compare(0, 3, "FA0") != 0 || command[8] != '#') return -1;
    int32_t target = 0;
    for (size_t i = 3; i < 8; ++i) {
        if (command[i] < '0' || command[i] > '9') return -1;
        target = target * 10 + (command[i] - '0');
    }
    return target;
}

}  // namespace

void FocuserModel::SetPosition(int32_t position) {
    m_position = position;
    m_target = position;
    m_homing = false;
}

void FocuserModel::Advance(double nowMs) {
    if (nowMs <= m_lastMs) return;
    const double elapsedMs = nowMs - m_lastMs;
    if (m_position != m_target) {
        const double neededMs = std::fabs(m_target - m_position) * 1000.0 / m_rate;
        if (neededMs <= elapsedMs) {
            m_position = m_target;
            if (m_homing) m_settledMs = m_lastMs + neededMs + kHomeSettleMs;
        } else {
            const double steps = m_rate * elapsedMs / 1000.0;
            m_position += m_target > m_position ? steps : -steps;
        }
    }
    if (m_homing && m_position == m_target && nowMs >= m_settledMs) m_homing = false;
    m_lastMs = nowMs;
}

int32_t FocuserModel::PositionAt(double nowMs) {
    Advance(nowMs);
    return static_cast<int32_t>(std::lround(m_position));
}

bool FocuserModel::IsMovingAt(double nowMs) {
    Advance(nowMs);
    return Moving();
}

bool FocuserModel::IsHomingAt(double nowMs) {
    Advance(nowMs);
    return m_homing;
}

double FocuserModel::TemperatureAt(double nowMs) const {
    const double elapsed = nowMs > 0.0 ? nowMs : 0.0;
    return m_startTemperature - kCoolingDegrees * (1.0 - std::exp(-elapsed / kCoolingTimeConstantMs));
}

std::string FocuserModel::Answer(const std::string& frame, double nowMs) {
    Advance(nowMs);
    const std::string command(frame.c_str());
    char reply[32] = {};
    if (command == "FG0000000") {
        std::snprintf(reply, sizeof reply, "FD%07ld", static_cast<long>(PositionAt(nowMs)));
        return reply;
    }
    if (command == "FU0000000") {
        std::snprintf(reply, sizeof reply, "FU00%c0000", Moving() ? '1' : '0');
        return reply;
    }
    if (command == "FT0000000") {
        // The reply has room for two digits before the point.
        const double shown = std::fmax(-99.99, std::fmin(99.99, TemperatureAt(nowMs)));
        std::snprintf(reply, sizeof reply, "FT%06.2f#", shown);
        return reply;
    }
    if (command.compare(0, 3, "FCS") == 0) {
        // A new speed takes effect at once, also in the middle of a move.
        if (command == "FCS000010") m_rate = kSlowRate;
        else if (command == "FCS000020") m_rate = kMediumRate;
        else if (command == "FCS000030") m_rate = kFastRate;
        else return Completion(kRejected);
        return Completion(kDone);
    }

    const bool zero = command == "FCP000000";
    const bool home = command == "FCR000000";
    const int32_t target = MoveTarget(command);
    if (!zero && !home && target < 0) return Completion(kRejected);
    if (Moving()) return Completion(kBusy);
    if (zero) {
        SetPosition(0);
    } else if (home) {
        m_target = 0.0;
        m_homing = true;
        // Already at the switch: only the back-off and settling remain.
        if (m_position == 0.0) m_settledMs = nowMs + kHomeSettleMs;
    } else {
        m_target = target;
    }
    return Completion(kDone);
}
