#pragma once
// One open COM device: opened exclusively with the controller's fixed
// time-outs and line settings, plain synchronous reads and writes.
#include <windows.h>

#include "link/Line.h"

class SerialPort final : public Line {
public:
    SerialPort() = default;
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device by its full name ("//./COM3"), sets the read time-outs
    // and then the baud rate, 8 data bits, no parity and one stop bit with
    // abort-on-error off, leaving every other line setting as the device had
    // it, and clears any error the line holds. When setting the line fails
    // the device stays open and false is returned; destruction closes it.
    bool Open(const char* deviceName, DWORD baudRate);
    // Purges what is pending, then closes.
    void Close();
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

    // A 9-byte read ends after 136 ms at the latest.
    bool Write(const void* bytes, size_t count) override;
    size_t Read(void* buffer, size_t count) override;
    bool Purge() override;

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
