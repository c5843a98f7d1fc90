#pragma once
// A focuser controller on the far end of a serial line, for tests and the
// simulator: on its own end of the line (a COM port on Windows, a pty's master
// elsewhere) it collects what the driver sends into
// 9-byte frames (recording each with the time it completed), and answers each
// frame through a responder. Optionally every byte takes the time it takes on
// a real 9600 baud line, both ways. Everything it receives and sends is kept
// in a trace with times.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/FocuserModel.h"

class ControllerEmulator {
public:
    // One byte at 9600 baud, 8N1: a start bit, eight data bits, a stop bit.
    static constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;

    struct Response {
        Response(std::string replyBytes = std::string(), unsigned replyDelayMs = 0)
            : bytes(std::move(replyBytes)), delayMs(replyDelayMs) {}

        std::string bytes;        // sent as they stand; empty sends nothing
        unsigned delayMs = 0;     // wait before answering
        // Sent unasked, unaskedDelayMs after the reply's due time (or after
        // the frame when there is no reply).
        std::string unasked;
        unsigned unaskedDelayMs = 0;
    };
    // Given a frame (9 bytes, as received) and the emulator's clock in ms.
    using Responder = std::function<Response(const std::string& frame, double nowMs)>;

    struct Frame {
        double atMs;        // when its last byte arrived, on the emulator's clock
        std::string bytes;  // raw bytes, NULs included
        // The command text: the bytes up to the first NUL.
        std::string Text() const { return std::string(bytes.c_str()); }
    };

    struct TraceEntry {
        enum class Kind { Command, Reply, Unasked };
        double atMs;        // when its last byte was on the line
        Kind kind;
        std::string bytes;
    };
    // "   123.456 ms  in       FG0000000", with NULs and other unprintable
    // bytes escaped.
    static std::string TraceLine(const TraceEntry& entry);
    static std::string Printable(const std::string& bytes);

    // Responders for the usual scripts.
    static Responder Silent();
    // A reply for each known command text; other commands get otherwise.
    static Responder Fixed(std::map<std::string, std::string> replies,
                           std::string otherwise = std::string());
    // A stateful focuser (the model must outlive the emulator's use of it).
    static Responder Model(FocuserModel& model);

    // The emulator's end of the line, used by its thread alone.
    class Port {
    public:
        virtual ~Port() = default;
        // Waits up to waitMs for bytes (0: takes what is there), to the
        // fraction of a ms where the system can, and returns how many of up
        // to count arrived; it may return as soon as any are in. failed is
        // set when the line itself failed.
        virtual size_t Read(char* buffer, size_t count, double waitMs, bool& failed) = 0;
        virtual void Write(const char* bytes, size_t count) = 0;
    };

    ControllerEmulator();
    ~ControllerEmulator();
    ControllerEmulator(const ControllerEmulator&) = delete;
    ControllerEmulator& operator=(const ControllerEmulator&) = delete;

#ifdef _WIN32
    // Opens the device (for example "//./COM13") and starts answering. False
    // when the port cannot be opened.
    bool Start(const char* device);
#endif
    // Starts answering on port, which it owns from now on.
    void Start(std::unique_ptr<Port> port);
    // Stops within a few tens of ms and closes the port. Bytes not yet sent
    // are dropped.
    void Stop();

    void SetResponder(Responder responder);
    // Paces every byte at 9600 baud 8N1: a frame counts as received when its
    // bytes would all have arrived on a real line, and replies go out one
    // byte at a time at that rate.
    void SetPaced(bool paced) { m_paced = paced; }
    // Called on the emulator's thread for every trace entry as it is made;
    // set it before Start, and keep it quick.
    void SetTraceSink(std::function<void(const TraceEntry&)> sink);
    // Whether frames and trace entries are kept for Frames() and Trace(); a
    // long-running simulator passes them to its sink only.
    void SetKeepHistory(bool keep) { m_keepHistory = keep; }

    // Sends bytes unasked, as a controller with noise on its line would; they
    // go out within a few ms.
    void Inject(const std::string& bytes);

    std::vector<Frame> Frames() const;
    // The command texts of the frames received so far.
    std::vector<std::string> Commands() const;
    std::vector<TraceEntry> Trace() const;
    // Frames received since Start, whether kept or not.
    size_t FrameCount() const { return m_frameCount; }
    // Forgets the frames and the trace so far.
    void ClearFrames();
    // Waits until at least count frames have arrived; false on time-out.
    bool WaitForFrames(size_t count, unsigned timeoutMs) const;
    // Waits until the trace holds at least count entries; false on time-out.
    bool WaitForTrace(size_t count, unsigned timeoutMs) const;
    // Waits until every reply, unasked message and injected byte due so far
    // has been written to the line; false on time-out.
    bool WaitUntilSent(unsigned timeoutMs) const;

    double NowMs() const;

private:
    struct Transmission {
        double dueMs;
        std::string bytes;
        TraceEntry::Kind kind;
        size_t sent = 0;
        double startMs = 0.0;  // paced: when its first byte went on the line
    };

    void Run();
    void Receive(const char* bytes, size_t count, double nowMs);
    void HandleArrivedFrames(double nowMs);
    void Complete(const std::string& bytes, double atMs);
    void SendDue(double nowMs);
    void Queue(double dueMs, const std::string& bytes, TraceEntry::Kind kind);
    void Record(const TraceEntry& entry);
    // When the next frame completes on the line, a partial frame times out or
    // the next byte is to go out; kNever when nothing is pending.
    double NextDueMs() const;
    static constexpr double kNever = 1e300;

    std::unique_ptr<Port> m_port;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_paced{false};
    std::atomic<bool> m_keepHistory{true};
    std::atomic<size_t> m_frameCount{0};
    // Transmissions queued or injected and not yet written in full.
    std::atomic<size_t> m_unsent{0};
    const double m_startMs;

    // Owned by the emulator's thread while it runs.
    std::string m_partial;              // bytes of the frame being received
    double m_partialRawMs = 0.0;        // when the last of them was read
    double m_partialLineMs = 0.0;       // when the last of them was on the line
    double m_inLineMs = 0.0;            // paced: when the line to us is free
    double m_outLineMs = 0.0;           // paced: when the line from us is free
    std::vector<Frame> m_arriving;      // complete, not yet all on the line
    std::vector<Transmission> m_outgoing;
    std::function<void(const TraceEntry&)> m_sink;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    Responder m_responder;
    std::vector<Frame> m_frames;
    std::vector<TraceEntry> m_trace;
    std::vector<std::string> m_injected;  // from other threads, for the emulator's thread
};
