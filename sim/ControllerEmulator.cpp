#include "sim/ControllerEmulator.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace {

constexpr size_t kFrameSize = 9;
// A partial frame older than this is taken as complete: the driver never
// pauses inside a frame, so a gap means the rest is not coming.
constexpr double kPartialFrameTimeoutMs = 50.0;
// The longest one read blocks: bounds how fast Stop() returns and how late an
// injected message starts.
constexpr unsigned kPollMs = 10;

const char* KindName(ControllerEmulator::TraceEntry::Kind kind) {
    switch (kind) {
        case ControllerEmulator::TraceEntry::Kind::Command: return "in";
        case ControllerEmulator::TraceEntry::Kind::Reply: return "out";
        case ControllerEmulator::TraceEntry::Kind::Unasked: return "unasked";
    }
    return "?";
}

// The clock and the thread's pause, as precise as each system gives them (a
// C++ runtime for Windows may build its steady clock on a coarse one).
#ifdef _WIN32
double MonotonicMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
void Pause(unsigned ms) { Sleep(ms); }
#else
double MonotonicMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
void Pause(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
#endif

#ifdef _WIN32
// A COM port, one end of a null-modem pair.
class ComPort final : public ControllerEmulator::Port {
public:
    ~ComPort() override {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }

    bool Open(const char* device) {
        m_handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) return false;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_handle, &dcb);
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(m_handle, &dcb);
        m_readWaitMs = MAXDWORD;  // not set yet
        SetReadWait(kPollMs);
        if (m_readWaitMs != kPollMs) return false;
        PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
        return true;
    }

    size_t Read(char* buffer, size_t count, double waitMs, bool& failed) override {
        // A read's wait is counted in whole ms, so the last fraction of a ms
        // before something falls due is polled.
        const DWORD ms = waitMs < 1.0 ? 0 : static_cast<DWORD>(waitMs);
        SetReadWait(ms);
        DWORD received = 0;
        failed = !ReadFile(m_handle, buffer, static_cast<DWORD>(count), &received, nullptr);
        if (failed) return 0;
        if (received == 0 && ms == 0 && waitMs > 0.0) SwitchToThread();
        return received;
    }

    void Write(const char* bytes, size_t count) override {
        DWORD written = 0;
        WriteFile(m_handle, bytes, static_cast<DWORD>(count), &written, nullptr);
    }

private:
    void SetReadWait(DWORD ms) {
        if (ms == m_readWaitMs) return;
        // A read of n bytes returns as soon as they are all there, or after ms
        // with what has come; with no wait it returns at once with what is
        // there. (A read that returns at its first byte, {MAXDWORD, MAXDWORD,
        // ms}, is seen to sit out its whole wait under Wine while another read
        // is pending on the line's other end, which the driver's always is.)
        COMMTIMEOUTS timeouts = {0, 0, ms, 0, 0};
        if (ms == 0) timeouts = {MAXDWORD, 0, 0, 0, 0};
        if (SetCommTimeouts(m_handle, &timeouts)) m_readWaitMs = ms;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_readWaitMs = 0;
};
#endif

}  // namespace

std::string ControllerEmulator::Printable(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            text += "\\0";
        } else if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7f) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

std::string ControllerEmulator::TraceLine(const TraceEntry& entry) {
    char head[64];
    std::snprintf(head, sizeof head, "%10.3f ms  %-8s ", entry.atMs, KindName(entry.kind));
    return head + Printable(entry.bytes);
}

ControllerEmulator::Responder ControllerEmulator::Silent() {
    return [](const std::string&, double) { return Response{}; };
}

ControllerEmulator::Responder ControllerEmulator::Fixed(std::map<std::string, std::string> replies,
                                                        std::string otherwise) {
    return [replies = std::move(replies), otherwise = std::move(otherwise)](
               const std::string& frame, double) {
        const auto found = replies.find(std::string(frame.c_str()));
        return Response{found != replies.end() ? found->second : otherwise, 0};
    };
}

ControllerEmulator::Responder ControllerEmulator::Model(FocuserModel& model) {
    return [&model](const std::string& frame, double nowMs) {
        return Response{model.Answer(frame, nowMs), 0};
    };
}

ControllerEmulator::ControllerEmulator() : m_startMs(MonotonicMs()), m_responder(Silent()) {}

ControllerEmulator::~ControllerEmulator() { Stop(); }

double ControllerEmulator::NowMs() const { return MonotonicMs() - m_startMs; }

#ifdef _WIN32
bool ControllerEmulator::Start(const char* device) {
    Stop();
    std::unique_ptr<ComPort> port(new ComPort);
    if (!port->Open(device)) return false;
    Start(std::move(port));
    return true;
}
#endif

void ControllerEmulator::Start(std::unique_ptr<Port> port) {
    Stop();
    m_port = std::move(port);
    m_partial.clear();
    m_arriving.clear();
    m_outgoing.clear();
    m_inLineMs = m_outLineMs = 0.0;
    m_frameCount = 0;
    m_stop = false;
    m_thread = std::thread(&ControllerEmulator::Run, this);
}

void ControllerEmulator::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    m_port.reset();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_injected.clear();
    m_unsent = 0;  // a stopped emulator sends nothing more
}

void ControllerEmulator::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ControllerEmulator::SetTraceSink(std::function<void(const TraceEntry&)> sink) {
    m_sink = std::move(sink);
}

void ControllerEmulator::Inject(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_injected.push_back(bytes);
    ++m_unsent;
}

std::vector<ControllerEmulator::Frame> ControllerEmulator::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<std::string> ControllerEmulator::Commands() const {
    std::vector<std::string> commands;
    for (const Frame& frame : Frames()) commands.push_back(frame.Text());
    return commands;
}

std::vector<ControllerEmulator::TraceEntry> ControllerEmulator::Trace() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trace;
}

void ControllerEmulator::ClearFrames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_trace.clear();
}

bool ControllerEmulator::WaitForFrames(size_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_frames.size() >= count; });
}

bool ControllerEmulator::WaitForTrace(size_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_trace.size() >= count; });
}

bool ControllerEmulator::WaitUntilSent(unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    // Each transmission is counted out before it is recorded, and recording
    // takes the lock and then wakes the waiters, so no wake-up is missed.
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_unsent == 0; });
}

double ControllerEmulator::NextDueMs() const {
    double due = m_partial.empty() ? kNever : m_partialRawMs + kPartialFrameTimeoutMs;
    if (!m_arriving.empty()) due = std::min(due, m_arriving.front().atMs);
    if (!m_outgoing.empty()) {
        const Transmission& t = m_outgoing.front();
        const double startMs = t.sent == 0 ? std::max(t.dueMs, m_outLineMs) : t.startMs;
        due = std::min(due, m_paced ? startMs + (t.sent + 1) * kByteMs : t.dueMs);
    }
    return due;
}

void ControllerEmulator::Record(const TraceEntry& entry) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keepHistory) m_trace.push_back(entry);
    }
    m_arrived.notify_all();
    if (m_sink) m_sink(entry);
}

void ControllerEmulator::Receive(const char* bytes, size_t count, double nowMs) {
    for (size_t i = 0; i < count; ++i) {
        // Through the null-modem a whole frame arrives at once; on a real
        // line each byte follows the one before it.
        const double lineMs = m_paced ? std::max(nowMs, m_inLineMs) + kByteMs : nowMs;
        m_inLineMs = lineMs;
        m_partial += bytes[i];
        m_partialRawMs = nowMs;
        m_partialLineMs = lineMs;
        if (m_partial.size() == kFrameSize) {
            m_arriving.push_back(Frame{lineMs, m_partial});
            m_partial.clear();
        }
    }
}

void ControllerEmulator::HandleArrivedFrames(double nowMs) {
    if (!m_partial.empty() && nowMs - m_partialRawMs > kPartialFrameTimeoutMs) {
        m_arriving.push_back(Frame{m_partialLineMs, m_partial});
        m_partial.clear();
    }
    size_t handled = 0;
    while (handled < m_arriving.size() && m_arriving[handled].atMs <= nowMs) {
        Complete(m_arriving[handled].bytes, m_arriving[handled].atMs);
        ++handled;
    }
    m_arriving.erase(m_arriving.begin(), m_arriving.begin() + static_cast<std::ptrdiff_t>(handled));
}

void ControllerEmulator::Complete(const std::string& bytes, double atMs) {
    Responder responder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keepHistory) m_frames.push_back(Frame{atMs, bytes});
        responder = m_responder;
        ++m_frameCount;
    }
    m_arrived.notify_all();
    Record(TraceEntry{atMs, TraceEntry::Kind::Command, bytes});

    const Response response = responder(bytes, atMs);
    const double replyMs = atMs + response.delayMs;
    if (!response.bytes.empty()) {
        ++m_unsent;
        Queue(replyMs, response.bytes, TraceEntry::Kind::Reply);
    }
    if (!response.unasked.empty()) {
        ++m_unsent;
        Queue(replyMs + response.unaskedDelayMs, response.unasked, TraceEntry::Kind::Unasked);
    }
}

void ControllerEmulator::Queue(double dueMs, const std::string& bytes, TraceEntry::Kind kind) {
    auto at = std::upper_bound(m_outgoing.begin(), m_outgoing.end(), dueMs,
                               [](double due, const Transmission& t) { return due < t.dueMs; });
    // A transmission already on the line is not interrupted.
    if (at == m_outgoing.begin() && !m_outgoing.empty() && m_outgoing.front().sent > 0) ++at;
    m_outgoing.insert(at, Transmission{dueMs, bytes, kind});
}

void ControllerEmulator::SendDue(double nowMs) {
    while (!m_outgoing.empty()) {
        Transmission& t = m_outgoing.front();
        if (t.sent == 0) {
            if (t.dueMs > nowMs) return;
            t.startMs = std::max(t.dueMs, m_outLineMs);
        }
        double endMs = nowMs;
        if (m_paced) {
            // Each byte is handed over once it would have been on the line in full.
            while (t.sent < t.bytes.size() && t.startMs + (t.sent + 1) * kByteMs <= nowMs) {
                m_port->Write(t.bytes.data() + t.sent, 1);
                ++t.sent;
            }
            if (t.sent < t.bytes.size()) return;
            endMs = t.startMs + t.bytes.size() * kByteMs;
        } else {
            m_port->Write(t.bytes.data() + t.sent, t.bytes.size() - t.sent);
        }
        m_outLineMs = endMs;
        const TraceEntry entry{endMs, t.kind, t.bytes};
        m_outgoing.erase(m_outgoing.begin());
        --m_unsent;
        Record(entry);
    }
}

void ControllerEmulator::Run() {
    char buffer[kFrameSize];
    while (!m_stop) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const std::string& bytes : m_injected) {
                Queue(NowMs(), bytes, TraceEntry::Kind::Unasked);
            }
            m_injected.clear();
        }
        // Block until the rest of the frame is in or the next thing falls due.
        const double waitMs = std::max(0.0, std::min<double>(NextDueMs() - NowMs(), kPollMs));
        bool failed = false;
        const size_t received = m_port->Read(buffer, kFrameSize - m_partial.size(), waitMs, failed);
        if (failed) {
            // A pulled plug: the port may come back.
            Pause(kPollMs);
        }
        if (received > 0) Receive(buffer, received, NowMs());
        HandleArrivedFrames(NowMs());
        SendDue(NowMs());
    }
}
