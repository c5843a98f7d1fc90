#include "link/ControllerProtocol.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <string>

namespace {

using protocol::DecodedReply;
using protocol::DecodeReply;
using protocol::ReplyKind;

// A reply carries values only for its own kind; everything else keeps the
// zero it started with, so a caller that copies by kind cannot pick up junk.
void ExpectOnlyOwnValues(const DecodedReply& r, const char* reply) {
    if (r.kind != ReplyKind::Position) {
        EXPECT_EQ(r.position, 0) << reply;
    }
    if (r.kind != ReplyKind::Temperature) {
        EXPECT_EQ(r.temperature, 0.0f) << reply;
    }
    if (r.kind != ReplyKind::Completion) {
        EXPECT_EQ(r.completionCode, 0) << reply;
    }
    if (r.kind != ReplyKind::Status) {
        for (bool flag : r.status) EXPECT_FALSE(flag) << reply;
    }
}

TEST(DecodeReply, PrefixTable) {
    const struct {
        const char* reply;
        ReplyKind kind;
        bool recognised;
    } cases[] = {
        {"FDV000123", ReplyKind::PositionNotice, true},
        {"FDS000001", ReplyKind::PositionNotice, true},
        {"FDV", ReplyKind::PositionNotice, true},
        {"FD0012345", ReplyKind::Position, true},
        {"FT023.50#", ReplyKind::Temperature, true},
        {"FP0000000", ReplyKind::Acknowledgement, true},
        {"FS1234567", ReplyKind::Acknowledgement, true},
        {"FP", ReplyKind::Acknowledgement, true},
        {"FU0010000", ReplyKind::Status, true},
        {"FC0000000", ReplyKind::Completion, true},
        {"FCR000000", ReplyKind::Completion, true},
        {"FC", ReplyKind::Completion, true},
        {"FCR000001", ReplyKind::Completion, false},
        {"FC0-00001", ReplyKind::Completion, false},
        {"", ReplyKind::Unrecognised, false},
        {"F", ReplyKind::Unrecognised, false},
        {"fd0012345", ReplyKind::Unrecognised, false},
        {"Fd0012345", ReplyKind::Unrecognised, false},
        {"FG0000000", ReplyKind::Unrecognised, false},
        {"FA001500#", ReplyKind::Unrecognised, false},
        {" FD001234", ReplyKind::Unrecognised, false},
        {"#########", ReplyKind::Unrecognised, false},
        {"XFD000001", ReplyKind::Unrecognised, false},
    };
    for (const auto& c : cases) {
        const DecodedReply r = DecodeReply(c.reply);
        EXPECT_EQ(r.kind, c.kind) << '"' << c.reply << '"';
        EXPECT_EQ(r.recognised, c.recognised) << '"' << c.reply << '"';
        ExpectOnlyOwnValues(r, c.reply);
    }
}

TEST(DecodeReply, PositionPayload) {
    const struct {
        const char* reply;
        int32_t position;
    } cases[] = {
        {"FD0012345", 12345},
        {"FD  12345", 12345},    // blanks become zeros before parsing
        {"FD12345##", 12345},    // only trailing '#' is trimmed
        {"FD123    ", 1230000},  // trailing blanks are not trimmed
        {"FD12", 12},
        {"FD", 0},
        {"FD-000042", -42},
        {"FD0099999", 99999},
        {"FD12#3", 12},
        {"FD 1 2 3#", 10203},
    };
    for (const auto& c : cases) {
        const DecodedReply r = DecodeReply(c.reply);
        EXPECT_EQ(r.kind, ReplyKind::Position) << c.reply;
        EXPECT_TRUE(r.recognised) << c.reply;
        EXPECT_EQ(r.position, c.position) << '"' << c.reply << '"';
    }
}

TEST(DecodeReply, TemperaturePayload) {
    const struct {
        const char* reply;
        float temperature;
    } cases[] = {
        {"FT023.50#", 23.5f}, {"FT-05.25#", -5.25f}, {"FT 23.5##", 23.5f},
        {"FT", 0.0f},         {"FTabcdefg", 0.0f},   {"FTnan####", 0.0f},
        {"FTinf####", 0.0f},  {"FT0x10###", 0.0f},   {"FT1e999##", 0.0f},
        {"FT1e+2###", 100.0f},
    };
    for (const auto& c : cases) {
        const DecodedReply r = DecodeReply(c.reply);
        EXPECT_EQ(r.kind, ReplyKind::Temperature) << c.reply;
        EXPECT_TRUE(r.recognised) << c.reply;
        EXPECT_FLOAT_EQ(r.temperature, c.temperature) << '"' << c.reply << '"';
    }
    // Finite but beyond single precision: saturated, never an undefined narrowing.
    EXPECT_EQ(DecodeReply("FT1e39").temperature, FLT_MAX);
    EXPECT_EQ(DecodeReply("FT-1e39").temperature, -FLT_MAX);
}

TEST(DecodeReply, StatusFlagsAreTheFourthToEighthCharacters) {
    const struct {
        const char* reply;
        bool flags[protocol::kStatusFlagCount];
    } cases[] = {
        {"FU0010000", {false, true, false, false, false}},
        {"FU0101111", {true, false, true, true, true}},
        {"FU1000001", {false, false, false, false, false}},  // 3rd and 9th unread
        {"FU0111", {true, true, true, false, false}},        // short: rest cleared
        {"FU", {false, false, false, false, false}},
        {"FU0121x11", {true, false, true, false, true}},     // only '1' sets a flag
        {"FU011111#", {true, true, true, true, true}},
    };
    for (const auto& c : cases) {
        const DecodedReply r = DecodeReply(c.reply);
        EXPECT_EQ(r.kind, ReplyKind::Status) << c.reply;
        EXPECT_TRUE(r.recognised) << c.reply;
        for (int i = 0; i < protocol::kStatusFlagCount; ++i) {
            EXPECT_EQ(r.status[i], c.flags[i]) << c.reply << " flag " << (i + 1);
        }
    }
    EXPECT_TRUE(DecodeReply("FU0010000").status[protocol::kMovingFlag]);
}

TEST(DecodeReply, CompletionCodeStartsAtTheFourthCharacter) {
    const struct {
        const char* reply;
        int32_t code;
    } cases[] = {
        {"FC0000000", 0}, {"FCS000000", 0}, {"FC", 0},      {"FC1", 0},
        {"FCR000001", 1}, {"FC0000-01", 0}, {"FC0-00001", -1}, {"FCR  7##", 7},
    };
    for (const auto& c : cases) {
        const DecodedReply r = DecodeReply(c.reply);
        EXPECT_EQ(r.kind, ReplyKind::Completion) << c.reply;
        EXPECT_EQ(r.completionCode, c.code) << c.reply;
        EXPECT_EQ(r.recognised, c.code == 0) << c.reply;
    }
}

TEST(DecodeReply, InputBeyondTheFrameIsIgnored) {
    EXPECT_EQ(DecodeReply("FD0012345678").position, 12345);
    EXPECT_EQ(DecodeReply("FD0000001#").position, 1);
    // The '#' past the ninth character is not part of the reply, so the
    // blanks before it are still turned into zeros.
    EXPECT_EQ(DecodeReply("FD1      #").position, 1000000);
    EXPECT_TRUE(DecodeReply(std::string(1000, 'x').insert(0, "FP").c_str()).recognised);
}

TEST(DecodeReply, ReadsOnlyUpToTheFirstNul) {
    const char reply[] = {'F', 'D', '1', '2', '\0', '3', '4', '5', '6', '\0'};
    EXPECT_EQ(DecodeReply(reply).position, 12);
    const char empty[10] = {};
    EXPECT_FALSE(DecodeReply(empty).recognised);
}

TEST(DecodeReply, NullIsAnEmptyReply) {
    const DecodedReply r = DecodeReply(nullptr);
    EXPECT_EQ(r.kind, ReplyKind::Unrecognised);
    EXPECT_FALSE(r.recognised);
}

TEST(CleanReply, TrimsTrailingHashesThenTurnsBlanksIntoZeros) {
    const struct {
        const char* reply;
        const char* cleaned;
    } cases[] = {
        {"FD  12345", "FD0012345"}, {"FD12345##", "FD12345"}, {"FT023.50#", "FT023.50"},
        {"FD123    ", "FD1230000"}, {"FD12 ##", "FD120"},     {"FD12# ", "FD12#0"},
        {"#########", ""},          {"", ""},                 {"FD0012345678", "FD0012345"},
    };
    for (const auto& c : cases) {
        char cleaned[protocol::kFrameSize + 1];
        std::memset(cleaned, 'x', sizeof cleaned);
        protocol::CleanReply(c.reply, cleaned);
        EXPECT_STREQ(cleaned, c.cleaned) << '"' << c.reply << '"';
    }
}

TEST(SpeedCommand, OneCommandPerSpeedAndMediumOtherwise) {
    EXPECT_STREQ(protocol::SpeedCommand(0), "FCS000010");
    EXPECT_STREQ(protocol::SpeedCommand(1), "FCS000020");
    EXPECT_STREQ(protocol::SpeedCommand(2), "FCS000030");
    for (int32_t other : {-1, 3, 10, INT32_MIN, INT32_MAX}) {
        EXPECT_STREQ(protocol::SpeedCommand(other), "FCS000020") << other;
    }
}

TEST(FormatMoveCommand, PadsTheTargetToFiveCharacters) {
    const struct {
        int32_t target;
        const char* command;
    } cases[] = {
        {1500, "FA001500#"},
        {0, "FA000000#"},
        {99999, "FA099999#"},
        {100000, "FA0100000#"},  // ten characters: too long to send
        {-1, "FA0-0001#"},       // the sign counts towards the five
        {-1234, "FA0-1234#"},
        {-12345, "FA0-12345#"},
        {INT32_MAX, "FA02147483647#"},
        {INT32_MIN, "FA0-2147483648#"},
    };
    for (const auto& c : cases) {
        char command[protocol::kMoveCommandCapacity];
        protocol::FormatMoveCommand(c.target, command);
        EXPECT_STREQ(command, c.command) << c.target;
    }
    char command[protocol::kMoveCommandCapacity];
    protocol::FormatMoveCommand(99999, command);
    EXPECT_EQ(std::strlen(command), protocol::kFrameSize);
    protocol::FormatMoveCommand(100000, command);
    EXPECT_GT(std::strlen(command), protocol::kFrameSize);
}

TEST(Commands, AreExactlyOneFrameLong) {
    for (const char* command : {protocol::kReadPosition, protocol::kReadStatus,
                                protocol::kReadTemperature, protocol::kFindHome,
                                protocol::kZeroPosition, protocol::SpeedCommand(0),
                                protocol::SpeedCommand(1), protocol::SpeedCommand(2)}) {
        EXPECT_EQ(std::strlen(command), protocol::kFrameSize) << command;
    }
}

}  // namespace
