#include "link/SerialPort.h"

namespace {

// With these a 9-byte read ends when all 9 bytes are in or after
// 100 + 4 * 9 = 136 ms; the 200 ms gap limit never ends it earlier. A 9-byte
// write takes 9.4 ms on the wire at 9600 baud; one that has not gone out after
// 100 ms is held (flow control the device was left in, and a stray XOFF or a
// dropped CTS on the controller's side), and gives up rather than waiting for
// ever.
constexpr COMMTIMEOUTS kTimeouts = {
    200,  // ReadIntervalTimeout
    4,    // ReadTotalTimeoutMultiplier
    100,  // ReadTotalTimeoutConstant
    0,    // WriteTotalTimeoutMultiplier
    100,  // WriteTotalTimeoutConstant
};

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const char* deviceName, DWORD baudRate) {
    // Share mode 0: one owner at a time, so a second driver object (or another
    // program) cannot talk over an open link.
    m_handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) return false;

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts = kTimeouts;
    if (!GetCommState(m_handle, &dcb) || !SetCommTimeouts(m_handle, &timeouts)) {
        Close();
        return false;
    }

    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // With abort-on-error, one framing error or overrun would fail every
    // later read and write until someone cleared it, and so would an error
    // another program left on the port: off, and cleared once here. A port
    // that cannot report its errors is used all the same.
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(m_handle, &dcb)) return false;
    DWORD errors = 0;
    ClearCommError(m_handle, &errors, nullptr);
    return true;
}

void SerialPort::Close() {
    if (m_handle == INVALID_HANDLE_VALUE) return;
    // What is still queued for the controller (a held line's last command)
    // must not go out once the link is closed.
    Purge();
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

// Counts are a frame's few bytes, far below what a DWORD holds.
bool SerialPort::Write(const void* bytes, size_t count) {
    DWORD written = 0;
    return WriteFile(m_handle, bytes, static_cast<DWORD>(count), &written, nullptr) &&
           written == count;
}

size_t SerialPort::Read(void* buffer, size_t count) {
    DWORD received = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(count), &received, nullptr)) return 0;
    return received;
}

bool SerialPort::Purge() {
    return PurgeComm(m_handle, PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != FALSE;
}
