#pragma once
// A focuser controller on the far end of a serial line, for tests and the
// simulator: it opens its own COM port, collects what the driver sends into
// 9-byte frames (recording each with the time it completed), and answers each
// frame through a responder that tests script.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/FocuserModel.h"

class ControllerEmulator {
public:
    struct Response {
        std::string bytes;        // sent as they stand; empty sends nothing
        unsigned delayMs = 0;     // wait before answering
    };
    // Given a frame (9 bytes, as received) and the emulator's clock in ms.
    using Responder = std::function<Response(const std::string& frame, double nowMs)>;

    struct Frame {
        double atMs;        // when its last byte arrived, on the emulator's clock
        std::string bytes;  // raw bytes, NULs included
        // The command text: the bytes up to the first NUL.
        std::string Text() const { return std::string(bytes.c_str()); }
    };

    // Responders for the usual scripts.
    static Responder Silent();
    // A reply for each known command text; other commands get otherwise.
    static Responder Fixed(std::map<std::string, std::string> replies,
                           std::string otherwise = std::string());
    // A stateful focuser (the model must outlive the emulator's use of it).
    static Responder Model(FocuserModel& model);

    ControllerEmulator();
    ~ControllerEmulator();
    ControllerEmulator(const ControllerEmulator&) = delete;
    ControllerEmulator& operator=(const ControllerEmulator&) = delete;

    // Opens the device (for example "//./COM13") and starts answering. False
    // when the port cannot be opened.
    bool Start(const char* device);
    // Stops within a few tens of ms and closes the port.
    void Stop();

    void SetResponder(Responder responder);
    // Writes bytes unasked, as a controller with noise on its line would.
    void Inject(const std::string& bytes);

    std::vector<Frame> Frames() const;
    // The command texts of the frames received so far.
    std::vector<std::string> Commands() const;
    void ClearFrames();
    // Waits until at least count frames have arrived; false on time-out.
    bool WaitForFrames(size_t count, unsigned timeoutMs) const;

    double NowMs() const;

private:
    void Run();
    void Complete(std::string bytes);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::thread m_thread;
    volatile bool m_stop = false;
    LARGE_INTEGER m_start = {};
    LARGE_INTEGER m_frequency = {};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    Responder m_responder;
    std::vector<Frame> m_frames;
};
