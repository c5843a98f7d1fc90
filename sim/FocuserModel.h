#pragma once
// A focuser controller as seen from its side of the serial protocol: it keeps a
// position, moves towards a target at the rate its speed command chose, runs a
// homing move, keeps a slowly drifting temperature, and answers each 9-byte
// command. Time is passed in, so the model is pure and its tests need no clock.
#include <cstdint>
#include <string>

class FocuserModel {
public:
    // Steps per second for the speeds the controller knows.
    static constexpr double kSlowRate = 200.0;
    static constexpr double kMediumRate = 1000.0;
    static constexpr double kFastRate = 4000.0;
    // After reaching the home switch the motor backs off and settles; the
    // focuser counts as moving until that is over, even when it started at 0.
    static constexpr double kHomeSettleMs = 500.0;
    // The largest target a move command can carry (five digits).
    static constexpr int32_t kMaxTarget = 99999;

    // Completion codes of the "FC" replies.
    static constexpr int kDone = 0;
    static constexpr int kRejected = 1;  // unknown or malformed command
    static constexpr int kBusy = 2;      // a motion command while the focuser moves

    FocuserModel() = default;

    // The reply to one command frame (9 bytes, NUL padded) at time nowMs.
    // Times must not go backwards between calls.
    std::string Answer(const std::string& frame, double nowMs);

    // State at time nowMs.
    int32_t PositionAt(double nowMs);
    bool IsMovingAt(double nowMs);
    bool IsHomingAt(double nowMs);
    double TemperatureAt(double nowMs) const;

    // Puts the focuser at rest at position (ends any motion).
    void SetPosition(int32_t position);
    void SetStartTemperature(double celsius) { m_startTemperature = celsius; }
    double Rate() const { return m_rate; }

private:
    void Advance(double nowMs);
    bool Moving() const { return m_position != m_target || m_homing; }

    double m_position = 0.0;
    double m_target = 0.0;
    double m_rate = kMediumRate;
    double m_lastMs = 0.0;
    bool m_homing = false;
    double m_settledMs = 0.0;  // while homing at the switch: when it is over
    double m_startTemperature = 12.5;
};
