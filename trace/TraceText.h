#pragma once
// The trace log's text: the file's place by date, the line around each event,
// and the event of one exchange. Pure code, so the log's form is tested on
// the host; the file itself is TraceLog's.
#include <cstddef>

#include "link/ControllerProtocol.h"

namespace tracetext {

// The trace file, one a day, in "<Documents>\ASCOM\Logs YYYY-MM-DD".
constexpr const char kFileName[] = "Tavrilen.Focuser.txt";
// Room for any line the driver writes; longer text is cut.
constexpr size_t kLineCapacity = 512;

struct Stamp {
    int year, month, day, hour, minute, second, millisecond;
};

// "Logs 2026-12-08"
void FolderName(const Stamp& stamp, char* out, size_t size);

// At most this many bytes of the program's name go into a line.
constexpr size_t kProgramCapacity = 64;

// "2026-12-08 11:52:03.417 program[1234] event" and CRLF, the program's name
// (UTF-8) cut to kProgramCapacity bytes on a character boundary. Returns the
// length written.
size_t Line(const Stamp& stamp, const char* program, unsigned long processId, const char* event,
            char* out, size_t size);

// `exchange FG0000000 reply "FD0001234" 19 ms: position 1234`: the command,
// the reply bytes that arrived (C escapes for anything not printable), the
// time the exchange took and what the reply decoded to.
void ExchangeEvent(const char* command, const char* reply, size_t replyLength,
                   unsigned long elapsedMs, const protocol::DecodedReply& decoded, char* out,
                   size_t size);

}  // namespace tracetext
