// The trace log's lines, as a reader of the file meets them.
#include <gtest/gtest.h>

#include <string>

#include "trace/TraceText.h"

namespace {

std::string Exchange(const char* command, const std::string& reply, unsigned long ms) {
    char event[tracetext::kLineCapacity];
    const protocol::DecodedReply decoded = protocol::DecodeReply(reply.c_str());
    tracetext::ExchangeEvent(command, reply.data(), reply.size(), ms, decoded, event, sizeof event);
    return event;
}

TEST(TraceText, AnExchangeShowsCommandRawReplyTimeAndMeaning) {
    EXPECT_EQ(Exchange("FG0000000", "FD0001234", 19),
              "exchange FG0000000 reply \"FD0001234\" 19 ms: position 1234");
    EXPECT_EQ(Exchange("FT0000000", "FT-05.25#", 19),
              "exchange FT0000000 reply \"FT-05.25#\" 19 ms: temperature -5.25");
    EXPECT_EQ(Exchange("FU0000000", "FU0010000", 20),
              "exchange FU0000000 reply \"FU0010000\" 20 ms: status 0 1 0 0 0");
    EXPECT_EQ(Exchange("FCR000000", "FCR000003", 20),
              "exchange FCR000000 reply \"FCR000003\" 20 ms: refused, code 3");
    EXPECT_EQ(Exchange("FCR000000", "FCR000000", 20),
              "exchange FCR000000 reply \"FCR000000\" 20 ms: completed");
    EXPECT_EQ(Exchange("FG0000000", "", 136),
              "exchange FG0000000 reply \"\" 136 ms: not understood");
    // Line noise is shown byte for byte, never written raw into the file.
    EXPECT_EQ(Exchange("FG0000000", std::string("\r\n\"\\\x01\xF8", 6), 136),
              "exchange FG0000000 reply \"\\r\\n\\\"\\\\\\x01\\xF8\" 136 ms: not understood");
}

TEST(TraceText, EveryLineCarriesTimeAndProgramAndEndsAsALine) {
    const tracetext::Stamp stamp = {2026, 1, 5, 3, 4, 5, 7};
    char text[tracetext::kLineCapacity];
    tracetext::FolderName(stamp, text, sizeof text);
    EXPECT_STREQ(text, "Logs 2026-01-05");

    const size_t length =
        tracetext::Line(stamp, "Imager.exe", 4242, "connect //./COM3", text, sizeof text);
    EXPECT_EQ(std::string(text, length), "2026-01-05 03:04:05.007 Imager.exe[4242] connect //./COM3\r\n");

    // A name as long as a path allows gives way to the event, and is cut
    // between characters ("\xC3\xA9" is one).
    std::string longName(63, 'a');
    longName += "\xC3\xA9" + std::string(300, 'b');
    const size_t full =
        tracetext::Line(stamp, longName.c_str(), 7, "error Link fail", text, sizeof text);
    EXPECT_EQ(std::string(text, full),
              "2026-01-05 03:04:05.007 " + std::string(63, 'a') + "[7] error Link fail\r\n");

    char small[24];
    const size_t cut = tracetext::Line(stamp, "Imager.exe", 1, "error Link fail", small, sizeof small);
    EXPECT_EQ(cut, sizeof small - 1);
    EXPECT_EQ(std::string(small, cut), "2026-01-05 03:04:05.0\r\n") << "cut, yet still a line";
}

}  // namespace
