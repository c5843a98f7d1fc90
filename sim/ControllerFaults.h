#pragma once
// Ways a controller misbehaves, as a thin layer over any responder: for trying
// how a client copes with a controller that is mute, noisy, slow, refuses its
// commands, falls silent in the middle of a session or talks unasked.
#include <atomic>
#include <cstddef>
#include <string>

#include "sim/ControllerEmulator.h"

enum class Fault {
    None,
    Silent,     // never answers (and does nothing)
    Garbled,    // acts, but its replies arrive corrupted
    Short,      // acts, but sends only the first amount bytes of each reply
    Slow,       // acts, and replies amount ms late
    Refusing,   // refuses every motion and setting command with completion code amount
    StopAfter,  // answers amount commands, then falls silent for good
    Chatter,    // acts, and amount ms after each reply sends a position report unasked
};

struct FaultSettings {
    Fault fault = Fault::None;
    unsigned amount = 0;
};

// The name used on the command line ("silent", "stop-after", ...).
const char* FaultName(Fault fault);
// The amount a fault has when none is given.
unsigned DefaultFaultAmount(Fault fault);

class ControllerFaults {
public:
    // What a chattering controller sends unasked: a position report far from
    // any real position, so a client that took it for an answer would show it.
    static constexpr const char kChatter[] = "FD0099999";

    explicit ControllerFaults(FaultSettings settings = {}) { SetFault(settings); }

    // The fault can change while the line runs; the next command meets it.
    void SetFault(FaultSettings settings) {
        m_fault = settings.fault;
        m_amount = settings.amount;
    }
    FaultSettings Settings() const { return FaultSettings{m_fault, m_amount}; }

    // The responder with this layer's fault applied; this object must outlive
    // its use.
    ControllerEmulator::Responder Wrap(ControllerEmulator::Responder inner);

    // Falls silent, or answers again, whatever the fault: a cable pulled and
    // put back.
    void StopAnswering() { m_muted = true; }
    void ResumeAnswering() { m_muted = false; }
    bool Answering() const { return !m_muted; }

    // The fault applied to one command (the frameIndex-th since the start,
    // from 0), given the responder that acts on it.
    ControllerEmulator::Response Apply(const std::string& frame, double nowMs, size_t frameIndex,
                                       const ControllerEmulator::Responder& inner) const;

private:
    std::atomic<Fault> m_fault{Fault::None};
    std::atomic<unsigned> m_amount{0};
    std::atomic<bool> m_muted{false};
    std::atomic<size_t> m_frames{0};
};
