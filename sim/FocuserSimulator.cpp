#include "sim/FocuserSimulator.h"

FocuserSimulator::FocuserSimulator(const SimulatorSettings& settings) : m_faults(settings.fault) {
    m_model.SetPosition(settings.startPosition);
    m_model.SetStartTemperature(settings.startTemperature);
    m_emulator.SetPaced(settings.paced);
    m_emulator.SetResponder(m_faults.Wrap(
        [this](const std::string& frame, double nowMs) { return Answer(frame, nowMs); }));
}

FocuserSimulator::~FocuserSimulator() { Stop(); }

#ifdef _WIN32
bool FocuserSimulator::Start(const std::string& device) { return m_emulator.Start(device.c_str()); }
#endif

void FocuserSimulator::Stop() { m_emulator.Stop(); }

ControllerEmulator::Response FocuserSimulator::Answer(const std::string& frame, double nowMs) {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return ControllerEmulator::Response{m_model.Answer(frame, nowMs), 0};
}

int32_t FocuserSimulator::Position() {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return m_model.PositionAt(m_emulator.NowMs());
}

bool FocuserSimulator::IsMoving() {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return m_model.IsMovingAt(m_emulator.NowMs());
}

bool FocuserSimulator::IsHoming() {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return m_model.IsHomingAt(m_emulator.NowMs());
}

double FocuserSimulator::Temperature() {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return m_model.TemperatureAt(m_emulator.NowMs());
}

double FocuserSimulator::Rate() {
    std::lock_guard<std::mutex> lock(m_modelMutex);
    return m_model.Rate();
}
