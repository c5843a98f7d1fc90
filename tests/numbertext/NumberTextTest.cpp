#include "numbertext/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <clocale>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using numbertext::FormatFixed6;
using numbertext::FormatInteger;
using numbertext::NarrowToFloat;
using numbertext::ParseInteger;
using numbertext::ParseReal;
using numbertext::FormatShortest;
constexpr numbertext::Strictness Whole = numbertext::Strictness::Whole;

struct IntegerCase {
    const char* text;
    int32_t expected;
};

TEST(ParseInteger, FollowsAtoiWhereAtoiIsDefined) {
    const IntegerCase cases[] = {
        {"0", 0},
        {"12345", 12345},
        {"0012345", 12345},
        {"-42", -42},
        {"+42", 42},
        {" \t\n\v\f\r17", 17},
        {"12abc", 12},
        {"12 34", 12},
        {"1.9", 1},
        {"", 0},
        {"abc", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0x1F", 0},
        {"\x01" "5", 0},  // a control character is not a blank
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(ParseInteger(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseInteger, SaturatesAtThe32BitRange) {
    const IntegerCase cases[] = {
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"9999999999", INT32_MAX},
        {"-2147483647", -INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-9999999999", INT32_MIN},
        {"18446744073709551617", INT32_MAX},  // wraps a 64-bit accumulator
        {"-18446744073709551617", INT32_MIN},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(ParseInteger(c.text), c.expected) << c.text;
    }
}

TEST(ParseInteger, VeryLongDigitRunsSaturate) {
    const std::string nines(300, '9');
    EXPECT_EQ(ParseInteger(nines.c_str()), INT32_MAX);
    EXPECT_EQ(ParseInteger(("-" + nines).c_str()), INT32_MIN);
    // Leading zeros do not count towards the magnitude.
    EXPECT_EQ(ParseInteger((std::string(300, '0') + "77").c_str()), 77);
}

TEST(ParseInteger, NullGivesZero) { EXPECT_EQ(ParseInteger(nullptr), 0); }

struct RealCase {
    const char* text;
    double expected;
};

TEST(ParseReal, ReadsTheDecimalForms) {
    const RealCase cases[] = {
        {"2.5", 2.5},
        {"23.50", 23.5},
        {"-12.25", -12.25},
        {"+0.125", 0.125},
        {"  \t7.75", 7.75},
        {"5.", 5.0},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1.270000", 1.27},
        {"0.001000", 0.001},
        {"1e3", 1000.0},
        {"1E3", 1000.0},
        {"2.5e+2", 250.0},
        {"2.5e-2", 0.025},
        {"12abc", 12.0},
        {"1.5.5", 1.5},
    };
    for (const RealCase& c : cases) {
        EXPECT_DOUBLE_EQ(ParseReal(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseReal, AnExponentWithoutDigitsIsNotConsumed) {
    const RealCase cases[] = {
        {"1e", 1.0}, {"1e+", 1.0}, {"1e-", 1.0}, {"2.5E", 2.5}, {"3ex", 3.0}, {"4e 5", 4.0},
    };
    for (const RealCase& c : cases) {
        EXPECT_DOUBLE_EQ(ParseReal(c.text), c.expected) << c.text;
    }
}

TEST(ParseReal, TextWithoutDigitsGivesZero) {
    for (const char* text : {"", " ", "abc", "-", "+", ".", "-.", "e5", ".e5", "-e5", "#"}) {
        EXPECT_EQ(ParseReal(text), 0.0) << '"' << text << '"';
    }
    EXPECT_EQ(ParseReal(nullptr), 0.0);
}

TEST(ParseReal, NonFiniteAndNonDecimalFormsGiveZero) {
    for (const char* text : {"nan", "NAN", "-nan", "nan(1)", "inf", "-inf", "INF", "infinity",
                             "1e999", "-1e999", "1e309", "0x1p3", "0X10", "1e-999"}) {
        const double value = ParseReal(text);
        EXPECT_EQ(value, 0.0) << text;
        EXPECT_TRUE(std::isfinite(value)) << text;
    }
    // A long run of digits overflows the double range as surely as an exponent.
    EXPECT_EQ(ParseReal(std::string(400, '9').c_str()), 0.0);
    EXPECT_DOUBLE_EQ(ParseReal("1e308"), 1e308);
}

TEST(NarrowToFloat, SaturatesOutsideTheFloatRange) {
    EXPECT_EQ(NarrowToFloat(1e39), FLT_MAX);
    EXPECT_EQ(NarrowToFloat(-1e39), -FLT_MAX);
    EXPECT_EQ(NarrowToFloat(DBL_MAX), FLT_MAX);
    EXPECT_EQ(NarrowToFloat(-DBL_MAX), -FLT_MAX);
    EXPECT_EQ(NarrowToFloat(std::numeric_limits<double>::infinity()), FLT_MAX);
    EXPECT_EQ(NarrowToFloat(std::numeric_limits<double>::quiet_NaN()), 0.0f);
    EXPECT_EQ(NarrowToFloat(static_cast<double>(FLT_MAX)), FLT_MAX);
    EXPECT_EQ(NarrowToFloat(2.5), 2.5f);
    EXPECT_EQ(NarrowToFloat(1.27), 1.27f);
    EXPECT_EQ(NarrowToFloat(-23.5), -23.5f);
}

TEST(FormatInteger, WritesDecimalText) {
    char buffer[16];
    const struct {
        int32_t value;
        const char* text;
    } cases[] = {{0, "0"}, {4, "4"}, {-1, "-1"}, {250000, "250000"},
                 {INT32_MAX, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(FormatInteger(c.value, buffer, sizeof buffer)) << c.text;
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST(FormatInteger, RefusesABufferWithoutRoomForTheTerminator) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FormatInteger(-1234, buffer, 6));
    EXPECT_STREQ(buffer, "-1234");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatInteger(-1234, buffer, 5));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(FormatInteger(7, buffer, 0));
}

TEST(FormatFixed6, WritesSixDecimalsLikePercentF) {
    char buffer[64];
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {static_cast<double>(1.27f), "1.270000"},
        {0.0, "0.000000"},
        {2.5, "2.500000"},
        {static_cast<double>(0.01f), "0.010000"},
        {1000.0, "1000.000000"},
        {-23.5, "-23.500000"},
        {0.0000004, "0.000000"},
        {0.0000006, "0.000001"},
        {123456789.125, "123456789.125000"},
        {static_cast<double>(FLT_MAX), "340282346638528859811704183484516925440.000000"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(FormatFixed6(c.value, buffer, sizeof buffer)) << c.text;
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST(FormatFixed6, RefusesATooSmallBuffer) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(FormatFixed6(1.5, buffer, 9));
    EXPECT_STREQ(buffer, "1.500000");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatFixed6(1.5, buffer, 8));
    EXPECT_STREQ(buffer, "");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(FormatFixed6(1e300, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(FormatFixed6(1.5, buffer, 0));
}

// The driver is loaded into programs that may have set a locale whose decimal
// mark is a comma; the registry and the controller always use a point.
TEST(NumberText, IgnoresTheProcessLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"}) {
        if ((found = std::setlocale(LC_ALL, name)) != nullptr) break;
    }
    if (found == nullptr) GTEST_SKIP() << "no locale with a decimal comma here";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    char buffer[32];
    const bool formatted = FormatFixed6(1.25, buffer, sizeof buffer);
    const double parsed = ParseReal("2.5");
    char shortest[64];
    FormatShortest(1.27f, shortest, sizeof shortest);
    float typed = 0.0f;
    const bool point = ParseReal("1.27", Whole, typed);
    const bool comma = ParseReal("1,27", Whole, typed);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_TRUE(formatted);
    EXPECT_STREQ(buffer, "1.250000");
    EXPECT_EQ(parsed, 2.5);
    EXPECT_STREQ(shortest, "1.27");
    EXPECT_TRUE(point);
    EXPECT_FALSE(comma);
}

// --- Whole: the setup dialog's edits ----------------------------------------

TEST(WholeNumberText, IntegersAreWholeDecimalNumbersThatFit) {
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
        EXPECT_TRUE(ParseInteger(c.text, Whole, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(WholeNumberText, AnythingElseIsNotAnIntegerAndLeavesTheValueAlone) {
    const char* bad[] = {
        "", "   ", "abc", "12abc", "12 3", "1.5", "1e3", "+", "-", "--1", "+-1", "0x10",
        "2147483648", "-2147483649", "99999999999999999999", "1,000",
        "\n5", "5\r",  // blanks for the lenient reading only
    };
    for (const char* text : bad) {
        int32_t value = 1234;
        EXPECT_FALSE(ParseInteger(text, Whole, value)) << '"' << text << '"';
        EXPECT_EQ(value, 1234) << text;
    }
    int32_t value = 0;
    EXPECT_FALSE(ParseInteger(nullptr, Whole, value));
}

TEST(WholeNumberText, RealsAreDecimalsWithOptionalFractionAndExponent) {
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
        EXPECT_TRUE(ParseReal(c.text, Whole, value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(WholeNumberText, NonNumbersAndValuesBeyondFloatAreRefused) {
    const char* bad[] = {
        "", " ", "abc", "1,5", "1.2.3", ".", "-", "+.", "e5", "1e", "1e+", "1 2", "12abc",
        "inf", "-inf", "nan", "infinity", "0x1p3", "1e39", "-1e39", "3.5e38", "1e400",
        "1e99999999999999999999",
    };
    for (const char* text : bad) {
        float value = 12.5f;
        EXPECT_FALSE(ParseReal(text, Whole, value)) << '"' << text << '"';
        EXPECT_EQ(value, 12.5f) << text;
    }
    float value = 0.0f;
    EXPECT_FALSE(ParseReal(nullptr, Whole, value));
}

std::string Shown(float value) {
    char text[64];
    FormatShortest(value, text, sizeof text);
    return text;
}

TEST(WholeNumberText, ValuesAreShownInTheirShortestPlainForm) {
    EXPECT_EQ(Shown(1.27f), "1.27");
    EXPECT_EQ(Shown(0.01f), "0.01");
    EXPECT_EQ(Shown(1000.0f), "1000");
    EXPECT_EQ(Shown(0.0f), "0");
    EXPECT_EQ(Shown(-2.5f), "-2.5");
    EXPECT_EQ(Shown(100000.0f), "100000") << "no exponent form in an edit";

    char text[64];
    FormatInteger(INT32_MIN, text, sizeof text);
    EXPECT_STREQ(text, "-2147483648");
    FormatInteger(100000, text, sizeof text);
    EXPECT_STREQ(text, "100000");
}

// Whatever the dialog shows must read back as the same value, or OK without
// an edit would change the setting.
TEST(WholeNumberText, EveryShownValueReadsBackUnchanged) {
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
        char text[64];
        FormatShortest(value, text, sizeof text);
        ASSERT_LT(std::strlen(text), sizeof text - 1) << value;
        float back = 0.0f;
        ASSERT_TRUE(ParseReal(text, Whole, back)) << text;
        EXPECT_EQ(back, value) << text;
    }
}

}  // namespace
