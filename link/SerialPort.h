#pragma once
// One open COM device: opened exclusively with the controller's fixed
// time-outs and line settings, plain synchronous reads and writes.
#include <windows.h>

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device ("COM3" is taken as "//./COM3"), sets the read time-outs
    // and then baud rate, 8 data bits, the parity and one stop bit, leaving
    // every other line setting as the device had it. When the last step fails
    // the device stays open and false is returned; destruction closes it.
    bool Open(const char* deviceName, DWORD baudRate, bool evenParity);
    void Close();
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

    // True only when the call succeeds and exactly count bytes moved. A read
    // ends after count bytes or after its time-out (136 ms for 9 bytes);
    // whatever arrived is in the buffer either way.
    bool Write(const void* bytes, DWORD count);
    bool Read(void* buffer, DWORD count);
    // Discards pending input and output and aborts a pending read.
    bool Purge();

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DCB m_dcb = {};
};
