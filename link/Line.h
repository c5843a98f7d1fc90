#pragma once
// The line to the controller as the link sees it: bytes out, bytes in within
// the line's read time-out, and a purge of whatever is pending. SerialPort is
// the one the driver uses; tests and fuzzers script their own.
#include <cstddef>

class Line {
public:
    virtual ~Line() = default;

    // True only when the call succeeds and exactly count bytes moved.
    virtual bool Write(const void* bytes, size_t count) = 0;
    // Ends after count bytes or after the line's read time-out; whatever
    // arrived is in the buffer either way. Returns how many bytes arrived (0
    // when the call itself failed).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Discards pending input and output and aborts a pending read.
    virtual bool Purge() = 0;
};
