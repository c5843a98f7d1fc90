// Replies: the input is what arrived on the line. The decoder sees it up to
// its first NUL, as the exchange hands it over.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/NumberReference.h"
#include "link/ControllerProtocol.h"

namespace fuzzcheck {
namespace {

using protocol::DecodedReply;
using protocol::kFrameSize;
using protocol::kStatusFlagCount;
using protocol::ReplyKind;

// The prefix table, top row first.
ReplyKind ExpectedKind(const char* cleaned) {
    static const struct {
        const char* prefix;
        ReplyKind kind;
    } table[] = {
        {"FDV", ReplyKind::PositionNotice}, {"FDS", ReplyKind::PositionNotice},
        {"FD", ReplyKind::Position},        {"FT", ReplyKind::Temperature},
        {"FP", ReplyKind::Acknowledgement}, {"FS", ReplyKind::Acknowledgement},
        {"FU", ReplyKind::Status},          {"FC", ReplyKind::Completion},
    };
    for (const auto& row : table) {
        if (std::strncmp(cleaned, row.prefix, std::strlen(row.prefix)) == 0) return row.kind;
    }
    return ReplyKind::Unrecognised;
}

bool SameReply(const DecodedReply& a, const DecodedReply& b) {
    return a.kind == b.kind && a.recognised == b.recognised && a.position == b.position &&
           std::memcmp(&a.temperature, &b.temperature, sizeof a.temperature) == 0 &&
           std::memcmp(a.status, b.status, sizeof a.status) == 0 &&
           a.completionCode == b.completionCode;
}

void CheckCleaning(const std::string& reply, const char (&cleaned)[kFrameSize + 1],
                   const std::string& shown) {
    FUZZ_EXPECT(std::memchr(cleaned, '\0', sizeof cleaned) != nullptr, shown);
    const size_t length = std::strlen(cleaned);
    const size_t received = std::min(std::strlen(reply.c_str()), kFrameSize);
    FUZZ_EXPECT(length <= received, shown);
    FUZZ_EXPECT(length == 0 || cleaned[length - 1] != '#', shown);
    FUZZ_EXPECT(std::strchr(cleaned, ' ') == nullptr, shown);
    // Only trailing '#' go, and only blanks change.
    for (size_t i = 0; i < length; ++i) {
        FUZZ_EXPECT(cleaned[i] == (reply[i] == ' ' ? '0' : reply[i]), shown);
    }
    for (size_t i = length; i < received; ++i) FUZZ_EXPECT(reply[i] == '#', shown);
}

}  // namespace

void CheckReply(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    const std::string shown = Quoted(reply.data(), reply.size());

    char cleaned[kFrameSize + 1];
    protocol::CleanReply(reply.c_str(), cleaned);
    CheckCleaning(reply, cleaned, shown);
    const size_t length = std::strlen(cleaned);

    const DecodedReply r = protocol::DecodeReply(reply.c_str());
    // A reply is read as at most one frame; whatever follows cannot matter.
    const std::string frame = reply.substr(0, kFrameSize);
    FUZZ_EXPECT(SameReply(r, protocol::DecodeReply(frame.c_str())), shown);

    FUZZ_EXPECT(r.kind == ExpectedKind(cleaned), shown);
    FUZZ_EXPECT(r.recognised == (r.kind != ReplyKind::Unrecognised &&
                                 (r.kind != ReplyKind::Completion || r.completionCode == 0)),
                shown);

    // Each value belongs to its own kind and stays zero for every other.
    FUZZ_EXPECT(r.position == (r.kind == ReplyKind::Position ? ReferenceInteger(cleaned + 2) : 0),
                shown);
    FUZZ_EXPECT(std::isfinite(r.temperature), shown);
    FUZZ_EXPECT(r.temperature == (r.kind == ReplyKind::Temperature
                                      ? ReferenceNarrow(ReferenceReal(cleaned + 2))
                                      : 0.0f),
                shown);
    const char* code = length >= 3 ? cleaned + 3 : "";
    FUZZ_EXPECT(r.completionCode == (r.kind == ReplyKind::Completion ? ReferenceInteger(code) : 0),
                shown);
    for (int i = 0; i < kStatusFlagCount; ++i) {
        const size_t at = 3 + static_cast<size_t>(i);  // flags are the 4th to 8th characters
        const bool set = r.kind == ReplyKind::Status && at < length && cleaned[at] == '1';
        FUZZ_EXPECT(r.status[i] == set, shown + " flag " + std::to_string(i + 1));
    }
}

}  // namespace fuzzcheck
