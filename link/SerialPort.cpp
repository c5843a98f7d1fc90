#include "link/SerialPort.h"

#include <string>

namespace {

// With these a 9-byte read ends when all 9 bytes are in or after
// 100 + 4 * 9 = 136 ms; the 200 ms gap limit never ends it earlier. Writes have
// no time-out.
constexpr COMMTIMEOUTS kTimeouts = {
    200,  // ReadIntervalTimeout
    4,    // ReadTotalTimeoutMultiplier
    100,  // ReadTotalTimeoutConstant
    0,    // WriteTotalTimeoutMultiplier
    0,    // WriteTotalTimeoutConstant
};

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const char* deviceName, DWORD baudRate, bool evenParity) {
    std::string path = deviceName;
    if (path.empty() || path[0] != '/') path.insert(0, "//./");

    // Share mode 0: one owner at a time, so a second driver object (or another
    // program) cannot talk over an open link.
    m_handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) return false;

    m_dcb = {};
    m_dcb.DCBlength = sizeof m_dcb;
    COMMTIMEOUTS timeouts = kTimeouts;
    if (!GetCommState(m_handle, &m_dcb) || !SetCommTimeouts(m_handle, &timeouts)) {
        Close();
        return false;
    }

    m_dcb.BaudRate = baudRate;
    m_dcb.ByteSize = 8;
    m_dcb.Parity = evenParity ? EVENPARITY : NOPARITY;
    m_dcb.StopBits = ONESTOPBIT;
    return SetCommState(m_handle, &m_dcb) != FALSE;
}

void SerialPort::Close() {
    if (m_handle == INVALID_HANDLE_VALUE) return;
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

bool SerialPort::Write(const void* bytes, DWORD count) {
    DWORD written = 0;
    return WriteFile(m_handle, bytes, count, &written, nullptr) && written == count;
}

bool SerialPort::Read(void* buffer, DWORD count) {
    DWORD received = 0;
    return ReadFile(m_handle, buffer, count, &received, nullptr) && received == count;
}

bool SerialPort::Purge() {
    return PurgeComm(m_handle, PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}
