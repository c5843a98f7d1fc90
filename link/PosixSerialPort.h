#pragma once
// One open serial device on a POSIX system, with the same bounds as the
// Windows port: a 9-byte read ends when all 9 bytes are in or after
// 100 + 4 * 9 = 136 ms, and a write that has not gone out whole after 100 ms
// gives up. Raw 9600 8N1 with no flow control of any kind, opened exclusively.
#include <cstddef>
#include <string>

#include "link/Line.h"

class PosixSerialPort final : public Line {
public:
    PosixSerialPort() = default;
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Opens device ("/dev/ttyUSB0") for this process alone and sets the line.
    // False with a few words on why in error ("in use by another program",
    // "not a serial device", the system's text otherwise); nothing stays open.
    bool Open(const char* device, std::string& error);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    bool Write(const void* bytes, size_t count) override;
    // A hung-up device (unplugged, or the far end of a pty closed) ends the
    // read at once with what had arrived.
    size_t Read(void* buffer, size_t count) override;
    bool Purge() override;

    // The bounds, in ms: the read's is kReadConstantMs + kReadPerByteMs * count.
    static constexpr int kReadConstantMs = 100;
    static constexpr int kReadPerByteMs = 4;
    static constexpr int kWriteMs = 100;

private:
    int m_fd = -1;
};
