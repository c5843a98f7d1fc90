#include "settings/SettingsText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

using namespace settingstext;

struct IntegerCase {
    const char* text;
    int32_t expected;
};

void ExpectLoads(int32_t (*load)(const char*), std::initializer_list<IntegerCase> cases,
                 const char* setting) {
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(load(c.text), c.expected)
            << setting << " from " << (c.text ? c.text : "(missing)");
    }
}

TEST(LoadSettings, PortIndexIsForcedIntoTheListOfPorts) {
    ExpectLoads(LoadPortIndex,
                {{nullptr, 0}, {"0", 0}, {"4", 4}, {"31", 31}, {"32", 31}, {"40", 31},
                 {"-3", 0}, {"abc", 0}, {"", 0}, {" 7", 7}, {"9999999999", 31},
                 {"-9999999999", 0}},
                "COM");
}

TEST(LoadSettings, MaxPositionDefaultsTo20000AndStopsAt100000) {
    ExpectLoads(LoadMaxPosition,
                {{nullptr, 20000}, {"0", 0}, {"20000", 20000}, {"100000", 100000},
                 {"100001", 100000}, {"250000", 100000}, {"-1", 0}, {"12abc", 12},
                 {"abc", 0}, {"99999999999999999999", 100000}, {"-2147483648", 0}},
                "MaxPosition");
}

TEST(LoadSettings, SpeedDefaultsToMedium) {
    ExpectLoads(LoadSpeed,
                {{nullptr, 1}, {"0", 0}, {"1", 1}, {"2", 2}, {"3", 2}, {"7", 2}, {"-1", 0},
                 {"fast", 0}, {"2147483648", 2}},
                "Speed");
}

TEST(LoadSettings, TheTraceIsOffUnlessSwitchedOnByANumber) {
    EXPECT_FALSE(LoadTraceSwitch(nullptr));
    EXPECT_FALSE(LoadTraceSwitch("0"));
    EXPECT_FALSE(LoadTraceSwitch("on"));
    EXPECT_TRUE(LoadTraceSwitch("1"));
    EXPECT_TRUE(LoadTraceSwitch(" 2"));
}

TEST(LoadSettings, StepSizeDefaultsTo1_27AndIsForcedIntoRange) {
    const struct {
        const char* text;
        float expected;
    } cases[] = {
        {nullptr, 1.27f},   {"1.270000", 1.27f}, {"2.5", 2.5f},      {"0.01", 0.01f},
        {"0.001000", 0.01f}, {"0", 0.01f},       {"-2.5", 0.01f},    {"abc", 0.01f},
        {"", 0.01f},         {"1000", 1000.0f},  {"5000", 1000.0f},  {"1e3", 1000.0f},
        {"2.5e2", 250.0f},   {"7.5 microns", 7.5f}, {"1e39", 1000.0f}, {"-1e39", 0.01f},
        {"1e300", 1000.0f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadStepSize(c.text), c.expected) << (c.text ? c.text : "(missing)");
    }
}

TEST(LoadSettings, NonFiniteStepSizeLoadsAsTextThatDoesNotParse) {
    for (const char* text : {"nan", "NaN", "-nan", "inf", "-inf", "infinity", "1e999", "-1e999",
                             "0x1p4"}) {
        EXPECT_EQ(LoadStepSize(text), kMinStepSize) << text;
    }
}

TEST(LoadSettings, AFullBufferOfDigitsSaturatesThenClamps) {
    const std::string digits(256, '9');
    EXPECT_EQ(LoadPortIndex(digits.c_str()), kMaxPortIndex);
    EXPECT_EQ(LoadMaxPosition(digits.c_str()), kMaxMaxPosition);
    EXPECT_EQ(LoadSpeed(digits.c_str()), kMaxSpeed);
    EXPECT_EQ(LoadStepSize(digits.c_str()), kMaxStepSize);
    EXPECT_EQ(LoadMaxPosition(("-" + digits).c_str()), 0);
}

TEST(SettingsText, TextForms) {
    char text[kTextCapacity];
    for (const auto& c : {std::pair<int32_t, const char*>{4, "4"}, {250000, "250000"},
                          {-1, "-1"}, {INT32_MIN, "-2147483648"}}) {
        IntegerText(c.first, text);
        EXPECT_STREQ(text, c.second);
    }
    StepSizeText(1.27f, text);
    EXPECT_STREQ(text, "1.270000");
    // An unclamped value straight from the dialog still fits.
    StepSizeText(-FLT_MAX, text);
    EXPECT_STREQ(text, "-340282346638528859811704183484516925440.000000");
}

TEST(SettingsText, SavedTextLoadsBackAsTheSameSetting) {
    for (float value : {1.27f, 0.01f, 2.5f, 999.99f, 1000.0f, 0.333333f}) {
        char text[kTextCapacity];
        StepSizeText(value, text);
        EXPECT_FLOAT_EQ(LoadStepSize(text), value) << text;
    }
    char text[kTextCapacity];
    IntegerText(250000, text);
    EXPECT_EQ(LoadMaxPosition(text), kMaxMaxPosition);
}

}  // namespace
