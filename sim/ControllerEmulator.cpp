#include "sim/ControllerEmulator.h"

#include <chrono>
#include <utility>

namespace {

constexpr size_t kFrameSize = 9;
// A partial frame older than this is taken as complete: the driver never
// pauses inside a frame, so a gap means the rest is not coming.
constexpr double kPartialFrameTimeoutMs = 50.0;
// How long one read waits for the first byte; bounds how fast Stop() returns.
constexpr DWORD kPollMs = 10;

}  // namespace

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

ControllerEmulator::ControllerEmulator() : m_responder(Silent()) {
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
}

ControllerEmulator::~ControllerEmulator() { Stop(); }

double ControllerEmulator::NowMs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - m_start.QuadPart) /
           static_cast<double>(m_frequency.QuadPart);
}

bool ControllerEmulator::Start(const char* device) {
    Stop();
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
    // Return as soon as any byte is there, or after kPollMs with none.
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, kPollMs, 0, 0};
    if (!SetCommTimeouts(m_handle, &timeouts)) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
        return false;
    }
    PurgeComm(m_handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_stop = false;
    m_thread = std::thread(&ControllerEmulator::Run, this);
    return true;
}

void ControllerEmulator::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }
}

void ControllerEmulator::SetResponder(Responder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ControllerEmulator::Inject(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
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

void ControllerEmulator::ClearFrames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

bool ControllerEmulator::WaitForFrames(size_t count, unsigned timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_frames.size() >= count; });
}

void ControllerEmulator::Complete(std::string bytes) {
    const double now = NowMs();
    Responder responder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back(Frame{now, bytes});
        responder = m_responder;
    }
    m_arrived.notify_all();

    const Response response = responder(bytes, now);
    for (unsigned waited = 0; waited < response.delayMs && !m_stop; waited += 5) Sleep(5);
    if (!response.bytes.empty() && !m_stop) Inject(response.bytes);
}

void ControllerEmulator::Run() {
    std::string pending;
    double lastByteMs = 0.0;
    char buffer[64];
    while (!m_stop) {
        DWORD received = 0;
        if (!ReadFile(m_handle, buffer, sizeof buffer, &received, nullptr)) {
            Sleep(kPollMs);
            continue;
        }
        if (received > 0) {
            pending.append(buffer, received);
            lastByteMs = NowMs();
            while (pending.size() >= kFrameSize) {
                std::string frame = pending.substr(0, kFrameSize);
                pending.erase(0, kFrameSize);
                Complete(std::move(frame));
            }
        } else if (!pending.empty() && NowMs() - lastByteMs > kPartialFrameTimeoutMs) {
            Complete(std::move(pending));
            pending.clear();
        }
    }
}
