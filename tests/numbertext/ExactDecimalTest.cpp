// The exact conversions against the C++ library's from_chars and to_chars,
// which they replace in the DLL: same text, same value, same range reports.
// The library stays the judge here, where its size does not matter.
#include "numbertext/ExactDecimal.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

template <typename T, typename Bits>
T FromBits(Bits bits) {
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void ExpectShortestAsLibrary(float value) {
    char expected[80], actual[80];
    *std::to_chars(expected, expected + sizeof expected - 1, value, std::chars_format::fixed).ptr = '\0';
    ASSERT_TRUE(exactdecimal::WriteShortest(value, actual, sizeof actual));
    ASSERT_STREQ(actual, expected) << std::hexfloat << value;
}

void ExpectFixedAsLibrary(double value) {
    char expected[400], actual[400];
    *std::to_chars(expected, expected + sizeof expected - 1, value, std::chars_format::fixed, 6).ptr = '\0';
    ASSERT_TRUE(exactdecimal::WriteFixed(value, 6, actual, sizeof actual));
    ASSERT_STREQ(actual, expected) << std::hexfloat << value;
}

void ExpectReadAsLibrary(const std::string& text) {
    double expected = 0.0, actual = 0.0;
    const std::errc expectedRange =
        std::from_chars(text.data(), text.data() + text.size(), expected, std::chars_format::general).ec;
    ASSERT_EQ(exactdecimal::ReadReal(text.data(), text.data() + text.size(), actual), expectedRange) << text;
    if (expectedRange == std::errc()) {
        ASSERT_EQ(std::memcmp(&actual, &expected, sizeof actual), 0)
            << text << ": " << std::hexfloat << actual << " instead of " << expected;
    }
}

TEST(ExactDecimal, WritesFloatsAsTheLibraryDoes) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 20000; ++i) ExpectShortestAsLibrary(FromBits<float>(static_cast<uint32_t>(random())));
    // Around every power of two, where the neighbours are unevenly far, and
    // the subnormals, zeros and non-finite values.
    for (int exponent = -150; exponent < 128; ++exponent) {
        const uint32_t power = FromBits<uint32_t>(std::ldexp(1.0f, exponent));
        for (uint32_t near = power - 2; near != power + 3; ++near) ExpectShortestAsLibrary(FromBits<float>(near));
    }
    for (uint32_t bits = 0; bits < 3000; ++bits) ExpectShortestAsLibrary(FromBits<float>(bits));
    for (float value : {-0.0f, 1.27f, 0.01f, 1000.0f, 1e30f, -INFINITY, INFINITY, NAN, -NAN}) {
        ExpectShortestAsLibrary(value);
    }
}

TEST(ExactDecimal, WritesSixDecimalsAsTheLibraryDoes) {
    std::mt19937_64 random(20261208);
    for (int i = 0; i < 5000; ++i) {
        ExpectFixedAsLibrary(FromBits<double>(random()));
        // Values with a few digits after the point, where rounding decides.
        ExpectFixedAsLibrary(std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 80) - 90));
    }
    // Exactly halfway at the seventh decimal: ties go to even.
    for (double value : {0.0078125, 0.0234375, -0.0078125, 1e-7, -1e-9, -0.0, 4.9e-324, 1.7976931348623157e308}) {
        ExpectFixedAsLibrary(value);
    }
}

TEST(ExactDecimal, ReadsAsTheLibraryDoes) {
    std::mt19937_64 random(20261208);
    char text[64];
    for (int i = 0; i < 5000; ++i) {
        const double value = FromBits<double>(random());
        if (!std::isfinite(value)) continue;
        std::snprintf(text, sizeof text, "%.*g", static_cast<int>(random() % 20) + 1, value);
        ExpectReadAsLibrary(text);
        std::snprintf(text, sizeof text, "%.*e", static_cast<int>(random() % 25),
                      std::ldexp(1.0 + static_cast<double>(random() % 1000) / 1000.0,
                                 static_cast<int>(random() % 2098) - 1075));
        ExpectReadAsLibrary(text);
    }
    const std::string halfway =  // exactly half the least subnormal: rounds to zero
        "2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989"
        "8282347722858865463328355177969898199387398005390939063150356595155702263922908583924491051844359318028"
        "4993653615250031937045767824921936562366986365848075700158576926990370631192827955855133292783433840935"
        "1978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339"
        "0079677619305775067401763246736009689513405355374585166611342237666786041621596804619144672918403005300"
        "5753084904876539171138659164623952491262365388187963623937328042389101867234849766823508986338858792562"
        "8302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437"
        "693412532098591327667236328125e-324";
    const std::initializer_list<std::string> edges = {
        halfway, halfway + "1", "1e400", "1e-400", "2e-324", "3e-324", "1.7976931348623158e308",
        "1.7976931348623159e308", "0", "-0", "0e999999", "00000.000e-99999999", "9007199254740993",
        "9007199254740993." + std::string(900, '0') + "1", "-.5", "1.", "2.2250738585072011e-308"};
    for (const std::string& edge : edges) {
        ExpectReadAsLibrary(edge);
    }
}

TEST(ExactDecimal, RefusesABufferTooSmall) {
    char buffer[8];
    EXPECT_TRUE(exactdecimal::WriteFixed(-2.5, 2, buffer, 6));
    EXPECT_STREQ(buffer, "-2.50");
    EXPECT_FALSE(exactdecimal::WriteFixed(-2.5, 2, buffer, 5));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(exactdecimal::WriteShortest(-INFINITY, buffer, 4));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(exactdecimal::WriteShortest(1.5f, buffer, 0));
}

}  // namespace
