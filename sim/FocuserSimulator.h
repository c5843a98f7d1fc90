#pragma once
// The focuser controller simulator: the controller model behind a COM port,
// paced like a real 9600 baud line if wished, with an optional fault. The
// tests run it in-process on the far end of a null-modem pair; FocuserSim.exe
// and focuser-sim (on a pty) run it for users and for the demos.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "sim/ControllerEmulator.h"
#include "sim/ControllerFaults.h"
#include "sim/FocuserModel.h"

struct SimulatorSettings {
    bool paced = true;
    FaultSettings fault;
    int32_t startPosition = 10000;
    double startTemperature = 12.5;
};

class FocuserSimulator {
public:
    explicit FocuserSimulator(const SimulatorSettings& settings = {});
    ~FocuserSimulator();
    FocuserSimulator(const FocuserSimulator&) = delete;
    FocuserSimulator& operator=(const FocuserSimulator&) = delete;

#ifdef _WIN32
    // Opens the device ("//./COM13") and starts answering; false when the
    // port cannot be opened.
    bool Start(const std::string& device);
#endif
    // Starts answering on port (a pty's master, say), which it owns now.
    void Start(std::unique_ptr<ControllerEmulator::Port> port) { m_emulator.Start(std::move(port)); }
    void Stop();

    // Every frame in and out as it happens, on the simulator's thread; set
    // before Start.
    void SetTraceSink(std::function<void(const ControllerEmulator::TraceEntry&)> sink) {
        m_emulator.SetTraceSink(std::move(sink));
    }

    // The fault layer, for falling silent and answering again on demand.
    ControllerFaults& Faults() { return m_faults; }
    // The line: its frames, its trace, its pacing.
    ControllerEmulator& Line() { return m_emulator; }

    // The controller's state now.
    int32_t Position();
    bool IsMoving();
    bool IsHoming();
    double Temperature();
    double Rate();

private:
    ControllerEmulator::Response Answer(const std::string& frame, double nowMs);

    std::mutex m_modelMutex;  // the model is read here and answered on the line's thread
    FocuserModel m_model;
    ControllerFaults m_faults;
    ControllerEmulator m_emulator;
};
