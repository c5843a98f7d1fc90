#include "trace/TraceText.h"

#include <cstdio>
#include <cstring>

#include "numbertext/NumberText.h"

namespace tracetext {

namespace {

// Every byte becomes at most four characters.
constexpr size_t kEscapedReplyCapacity = 4 * protocol::kFrameSize + 1;

void Escape(const char* bytes, size_t length, char (&out)[kEscapedReplyCapacity]) {
    size_t used = 0;
    for (size_t i = 0; i < length && i < protocol::kFrameSize; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        const char* named = nullptr;
        switch (byte) {
            case '\r': named = "\\r"; break;
            case '\n': named = "\\n"; break;
            case '\0': named = "\\0"; break;
            case '"': named = "\\\""; break;
            case '\\': named = "\\\\"; break;
            default: break;
        }
        if (named != nullptr) {
            used += std::snprintf(out + used, sizeof out - used, "%s", named);
        } else if (byte >= 0x20 && byte < 0x7f) {
            out[used++] = static_cast<char>(byte);
        } else {
            used += std::snprintf(out + used, sizeof out - used, "\\x%02X", byte);
        }
    }
    out[used] = '\0';
}

void Describe(const protocol::DecodedReply& decoded, char* out, size_t size) {
    using protocol::ReplyKind;
    switch (decoded.kind) {
        case ReplyKind::Position:
            std::snprintf(out, size, "position %li", static_cast<long>(decoded.position));
            return;
        case ReplyKind::Temperature: {
            char number[64];
            numbertext::FormatShortest(decoded.temperature, number, sizeof number);
            std::snprintf(out, size, "temperature %s", number);
            return;
        }
        case ReplyKind::Status: {
            const bool* flag = decoded.status;
            std::snprintf(out, size, "status %d %d %d %d %d", flag[0], flag[1], flag[2], flag[3],
                          flag[4]);
            return;
        }
        case ReplyKind::Completion:
            if (decoded.completionCode == 0) {
                std::snprintf(out, size, "completed");
            } else {
                std::snprintf(out, size, "refused, code %li",
                              static_cast<long>(decoded.completionCode));
            }
            return;
        case ReplyKind::Acknowledgement:
            std::snprintf(out, size, "acknowledged");
            return;
        case ReplyKind::PositionNotice:
            std::snprintf(out, size, "position notice");
            return;
        case ReplyKind::Unrecognised:
            break;
    }
    std::snprintf(out, size, "not understood");
}

}  // namespace

void FolderName(const Stamp& stamp, char* out, size_t size) {
    std::snprintf(out, size, "Logs %04d-%02d-%02d", stamp.year, stamp.month, stamp.day);
}

size_t Line(const Stamp& stamp, const char* program, unsigned long processId, const char* event,
            char* out, size_t size) {
    if (size == 0) return 0;
    // A program's name may be as long as a path allows; the event is what the
    // line is for, so the name gives way, and never in the middle of a
    // character (UTF-8 continuation bytes are 10xxxxxx).
    size_t programLength = std::strlen(program);
    if (programLength > kProgramCapacity) {
        programLength = kProgramCapacity;
        while (programLength > 0 &&
               (static_cast<unsigned char>(program[programLength]) & 0xC0) == 0x80) {
            --programLength;
        }
    }
    const int written = std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d %.*s[%lu] %s\r\n",
                                      stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute,
                                      stamp.second, stamp.millisecond,
                                      static_cast<int>(programLength), program, processId, event);
    if (written < 0) {
        out[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(written) < size) return static_cast<size_t>(written);
    // Cut, but still a line of its own.
    if (size >= 3) {
        out[size - 3] = '\r';
        out[size - 2] = '\n';
    }
    return size - 1;
}

void ExchangeEvent(const char* command, const char* reply, size_t replyLength,
                   unsigned long elapsedMs, const protocol::DecodedReply& decoded, char* out,
                   size_t size) {
    char escaped[kEscapedReplyCapacity];
    Escape(reply, replyLength, escaped);
    char meaning[96];
    Describe(decoded, meaning, sizeof meaning);
    std::snprintf(out, size, "exchange %s reply \"%s\" %lu ms: %s", command, escaped, elapsedMs,
                  meaning);
}

}  // namespace tracetext
