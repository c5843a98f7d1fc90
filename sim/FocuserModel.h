#pragma once
// A focuser controller as seen from its side of the serial protocol: it keeps a
// position, moves towards a target at the rate its speed command chose, keeps
// a slowly drifting temperature, and answers each 9-byte command. Time is
// passed in, so the model is pure and its tests need no clock.
#include <cstdint>
#include <string>

class FocuserModel {
public:
    // Steps per second for the speeds the controller knows.
    static constexpr double kSlowRate = 200.0;
    static constexpr double kMediumRate = 1000.0;
    static constexpr double kFastRate = 4000.0;

    FocuserModel() = default;

    // The reply to one command frame (9 bytes, NUL padded) at time nowMs, or an
    // empty string when the controller does not answer it.
    std::string Answer(const std::string& frame, double nowMs);

    // State at time nowMs.
    int32_t PositionAt(double nowMs);
    bool IsMovingAt(double nowMs);
    double TemperatureAt(double nowMs) const;

    void SetPosition(int32_t position) { m_position = position; m_target = position; }
    void SetStartTemperature(double celsius) { m_temperature = celsius; }
    double Rate() const { return m_rate; }

private:
    void Advance(double nowMs);

    double m_position = 0.0;
    double m_target = 0.0;
    double m_rate = kMediumRate;
    double m_lastMs = 0.0;
    double m_temperature = 12.5;
};
