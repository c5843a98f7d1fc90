// The dialog layer's pure parts: reading and showing the numbers in the edits,
// and walking a dialog-init list.
#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "setup/DialogInit.h"
#include "setup/DialogText.h"

namespace {

// --- Integers ---------------------------------------------------------------

TEST(DialogTextTest, IntegersAreWholeDecimalNumbersThatFit) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case good[] = {
        {"0", 0}, {"250000", 250000}, {"  42  ", 42}, {"\t7", 7}, {"-17", -17}, {"+5", 5},
        {"007", 7}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
    };
    for (const Case& c : good) {
        int32_t value = -99;
        EXPECT_TRUE(dialogtext::ParseInteger(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(DialogTextTest, AnythingElseIsNotAnIntegerAndLeavesTheValueAlone) {
    const char* bad[] = {
        "", "   ", "abc", "12abc", "12 3", "1.5", "1e3", "+", "-", "--1", "+-1", "0x10",
        "2147483648", "-2147483649", "99999999999999999999", "1,000",
    };
    for (const char* text : bad) {
        int32_t value = 1234;
        EXPECT_FALSE(dialogtext::ParseInteger(text, value)) << '"' << text << '"';
        EXPECT_EQ(value, 1234) << text;
    }
    int32_t value = 0;
    EXPECT_FALSE(dialogtext::ParseInteger(nullptr, value));
}

// --- Reals --------------------------------------------------------------------

TEST(DialogTextTest, RealsAreDecimalsWithOptionalFractionAndExponent) {
    struct Case {
        const char* text;
        float value;
    };
    const Case good[] = {
        {"1.27", 1.27f}, {" 2.5 ", 2.5f}, {"-0.5", -0.5f}, {"+3", 3.0f}, {".5", 0.5f},
        {"5.", 5.0f}, {"1e3", 1000.0f}, {"1E-2", 0.01f}, {"2.5e+1", 25.0f},
        {"0.001000", 0.001f}, {"1000", 1000.0f},
        // Too small to hold: zero, as typed.
        {"1e-50", 0.0f}, {"1e-400", 0.0f},
        {"340282346638528859811704183484516925440", FLT_MAX},
    };
    for (const Case& c : good) {
        float value = -99.0f;
        EXPECT_TRUE(dialogtext::ParseReal(c.text, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(DialogTextTest, NonNumbersAndValuesBeyondFloatAreRefused) {
    const char* bad[] = {
        "", " ", "abc", "1,5", "1.2.3", ".", "-", "+.", "e5", "1e", "1e+", "1 2", "12abc",
        "inf", "-inf", "nan", "infinity", "0x1p3", "1e39", "-1e39", "3.5e38", "1e400",
        "1e99999999999999999999",
    };
    for (const char* text : bad) {
        float value = 12.5f;
        EXPECT_FALSE(dialogtext::ParseReal(text, value)) << '"' << text << '"';
        EXPECT_EQ(value, 12.5f) << text;
    }
    float value = 0.0f;
    EXPECT_FALSE(dialogtext::ParseReal(nullptr, value));
}

// --- Showing values -------------------------------------------------------------

std::string Shown(float value) {
    char text[dialogtext::kNumberTextCapacity];
    dialogtext::FormatReal(value, text);
    return text;
}

TEST(DialogTextTest, ValuesAreShownInTheirShortestPlainForm) {
    EXPECT_EQ(Shown(1.27f), "1.27");
    EXPECT_EQ(Shown(0.01f), "0.01");
    EXPECT_EQ(Shown(1000.0f), "1000");
    EXPECT_EQ(Shown(0.0f), "0");
    EXPECT_EQ(Shown(-2.5f), "-2.5");
    EXPECT_EQ(Shown(100000.0f), "100000") << "no exponent form in an edit";

    char text[dialogtext::kNumberTextCapacity];
    dialogtext::FormatInteger(INT32_MIN, text);
    EXPECT_STREQ(text, "-2147483648");
    dialogtext::FormatInteger(100000, text);
    EXPECT_STREQ(text, "100000");
}

// Whatever the dialog shows must read back as the same value, or OK without
// an edit would change the setting.
TEST(DialogTextTest, EveryShownValueReadsBackUnchanged) {
    std::vector<float> values = {FLT_MAX, -FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(),
                                 1.27f, 0.01f, 999.999f, 123456.789f, 3.14159265f};
    // A spread over every exponent, with awkward mantissas.
    for (uint32_t bits = 0x00000001u; bits < 0x7F800000u; bits += 0x00A3D70Bu) {
        float value;
        std::memcpy(&value, &bits, sizeof value);
        values.push_back(value);
        values.push_back(-value);
    }
    for (float value : values) {
        char text[dialogtext::kNumberTextCapacity];
        dialogtext::FormatReal(value, text);
        ASSERT_LT(std::strlen(text), sizeof text - 1) << value;
        float back = 0.0f;
        ASSERT_TRUE(dialogtext::ParseReal(text, back)) << text;
        EXPECT_EQ(back, value) << text;
    }
}

// The host program may have set a locale with a decimal comma; the edits
// still use the point.
TEST(DialogTextTest, TheDecimalPointDoesNotFollowTheProcessLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* german = std::setlocale(LC_ALL, "German_Germany.1252");
    if (german == nullptr) german = std::setlocale(LC_ALL, "de-DE");
    if (german == nullptr) GTEST_SKIP() << "no locale with a decimal comma here";
    float value = 0.0f;
    const bool parsed = dialogtext::ParseReal("1.27", value);
    const bool comma = dialogtext::ParseReal("1,27", value);
    const std::string shown = Shown(1.27f);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(parsed);
    EXPECT_FALSE(comma);
    EXPECT_EQ(shown, "1.27");
}

// --- Dialog-init lists -------------------------------------------------------------

// Builds a list the way the resource compiler lays it out: packed, little
// endian, no alignment.
class ListBuilder {
public:
    ListBuilder& Entry(uint16_t control, uint16_t message, const std::string& text) {
        return Raw(control, message, static_cast<uint32_t>(text.size() + 1), text + '\0');
    }
    ListBuilder& Raw(uint16_t control, uint16_t message, uint32_t length, const std::string& data) {
        Word(control);
        Word(message);
        Word(static_cast<uint16_t>(length & 0xFFFF));
        Word(static_cast<uint16_t>(length >> 16));
        m_bytes += data;
        return *this;
    }
    ListBuilder& End() {
        Word(0);
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    void Word(uint16_t value) {
        m_bytes += static_cast<char>(value & 0xFF);
        m_bytes += static_cast<char>(value >> 8);
    }
    std::string m_bytes;
};

struct ReadEntry {
    uint16_t control;
    uint16_t message;
    std::string text;
    bool operator==(const ReadEntry& other) const {
        return control == other.control && message == other.message && text == other.text;
    }
};

std::vector<ReadEntry> ReadAll(const std::string& bytes, bool& malformed) {
    // A copy of exactly the list's size, so any read past it is a read past
    // the allocation.
    std::vector<char> data(bytes.begin(), bytes.end());
    dialoginit::Reader reader(data.data(), data.size());
    std::vector<ReadEntry> entries;
    dialoginit::Entry entry;
    while (reader.Next(entry)) entries.push_back({entry.control, entry.message, entry.text});
    malformed = reader.Malformed();
    EXPECT_EQ(dialoginit::IsWellFormed(data.data(), data.size()), !malformed);
    return entries;
}

TEST(DialogInitTest, EntriesAreReadInOrderUpToTheEndMarker) {
    ListBuilder list;
    list.Entry(201, dialoginit::kComboAddString, "COM1")
        .Entry(201, dialoginit::kComboAddString, "COM10")  // odd and even lengths: no padding
        .Entry(305, dialoginit::kListAddString, "")
        .End()
        .Entry(999, dialoginit::kComboAddString, "after the end");
    bool malformed = true;
    const std::vector<ReadEntry> entries = ReadAll(list.Bytes(), malformed);
    EXPECT_FALSE(malformed);
    EXPECT_EQ(entries, (std::vector<ReadEntry>{{201, 0x0403, "COM1"},
                                               {201, 0x0403, "COM10"},
                                               {305, 0x0401, ""}}));
}

TEST(DialogInitTest, AListWithoutEndMarkerEndsWithItsData) {
    ListBuilder list;
    list.Entry(201, dialoginit::kComboAddString, "COM1");
    bool malformed = true;
    EXPECT_EQ(ReadAll(list.Bytes(), malformed).size(), 1u);
    EXPECT_FALSE(malformed);

    EXPECT_TRUE(ReadAll(std::string(), malformed).empty());
    EXPECT_FALSE(malformed);
    dialoginit::Reader none(nullptr, 0);
    dialoginit::Entry entry;
    EXPECT_FALSE(none.Next(entry));
    EXPECT_FALSE(none.Malformed());
}

TEST(DialogInitTest, DataThatRunsPastItsEndIsMalformed) {
    const std::string good = ListBuilder().Entry(201, dialoginit::kComboAddString, "COM1").Bytes();
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"a stray byte", good + '\x01'},
        {"a cut header", good + std::string("\xC9\x00\x03\x04\x05", 5)},
        {"a cut string", good.substr(0, good.size() - 1)},
        {"a length beyond the data", ListBuilder().Raw(201, 0x0403, 500, std::string("COM1\0", 5)).Bytes()},
        {"a length near 4 GB", ListBuilder().Raw(201, 0x0403, 0xFFFFFFFFu, std::string("COM1\0", 5)).Bytes()},
        {"a string without its zero", ListBuilder().Raw(201, 0x0403, 4, "COM1").End().Bytes()},
        {"an empty entry", ListBuilder().Raw(201, 0x0403, 0, "").End().Bytes()},
    };
    for (const Case& c : cases) {
        bool malformed = false;
        const std::vector<ReadEntry> entries = ReadAll(c.bytes, malformed);
        EXPECT_TRUE(malformed) << c.what;
        for (const ReadEntry& entry : entries) EXPECT_EQ(entry.text, "COM1") << c.what;
    }
}

}  // namespace
