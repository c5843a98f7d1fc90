// Settings text: the input, up to its first NUL and at most the 256 bytes a
// stored value is read into, is loaded as each setting; its first eight bytes
// also give an integer and a float (any bit pattern) to store and load back.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "fuzz/NumberReference.h"
#include "settings/SettingsText.h"

namespace fuzzcheck {
namespace {

constexpr size_t kStoredValueSize = 256;

int32_t Clamp(int32_t value, int32_t low, int32_t high) { return std::min(std::max(value, low), high); }

struct IntegerSetting {
    const char* name;
    int32_t (*load)(const char*);
    int32_t fallback;
    int32_t high;
};

const IntegerSetting kIntegerSettings[] = {
    {settingstext::kPortIndexName, settingstext::LoadPortIndex, settingstext::kDefaultPortIndex,
     settingstext::kMaxPortIndex},
    {settingstext::kMaxPositionName, settingstext::LoadMaxPosition,
     settingstext::kDefaultMaxPosition, settingstext::kMaxMaxPosition},
    {settingstext::kSpeedName, settingstext::LoadSpeed, settingstext::kDefaultSpeed,
     settingstext::kMaxSpeed},
};

float ExpectedStepSize(const char* text) {
    const float value = ReferenceNarrow(ReferenceReal(text));
    return std::min(std::max(value, settingstext::kMinStepSize), settingstext::kMaxStepSize);
}

bool Terminated(const char (&text)[settingstext::kTextCapacity]) {
    return std::memchr(text, '\0', sizeof text) != nullptr;
}

}  // namespace

void CheckSettingsText(const uint8_t* data, size_t size) {
    const std::string stored(reinterpret_cast<const char*>(data), std::min(size, kStoredValueSize));
    const char* text = stored.c_str();
    const std::string shown = Quoted(stored.data(), stored.size());

    for (const IntegerSetting& setting : kIntegerSettings) {
        const int32_t loaded = setting.load(text);
        FUZZ_EXPECT(loaded >= 0 && loaded <= setting.high, shown + " as " + setting.name);
        FUZZ_EXPECT(loaded == Clamp(ReferenceInteger(text), 0, setting.high),
                    shown + " as " + setting.name);
        FUZZ_EXPECT(setting.load(nullptr) == setting.fallback, setting.name);
    }
    const float step = settingstext::LoadStepSize(text);
    FUZZ_EXPECT(step >= settingstext::kMinStepSize && step <= settingstext::kMaxStepSize, shown);
    FUZZ_EXPECT(step == ExpectedStepSize(text), shown);
    FUZZ_EXPECT(settingstext::LoadStepSize(nullptr) == settingstext::kDefaultStepSize, "StepSize");

    // What is saved loads back as itself when in range, as the nearest bound
    // when not.
    int32_t integer = 0;
    float real = 0.0f;
    std::memcpy(&integer, data, std::min(size, sizeof integer));
    if (size > sizeof integer) std::memcpy(&real, data + sizeof integer, std::min(size - sizeof integer, sizeof real));

    char saved[settingstext::kTextCapacity];
    settingstext::IntegerText(integer, saved);
    const std::string integerShown = std::to_string(integer) + " saved as " + Quoted(saved, std::strlen(saved));
    FUZZ_EXPECT(Terminated(saved), integerShown);
    for (const IntegerSetting& setting : kIntegerSettings) {
        FUZZ_EXPECT(setting.load(saved) == Clamp(integer, 0, setting.high), integerShown + " as " + setting.name);
    }

    std::memset(saved, 'x', sizeof saved);
    settingstext::StepSizeText(real, saved);
    FUZZ_EXPECT(Terminated(saved), "step size text not terminated");
    char expected[64];
    std::snprintf(expected, sizeof expected, "%f", static_cast<double>(real));
    const std::string realShown = Quoted(reinterpret_cast<const char*>(&real), sizeof real) + " saved as " +
                                  Quoted(saved, std::strlen(saved));
    FUZZ_EXPECT(std::strcmp(saved, expected) == 0, realShown + ", %f gives " + expected);
    const float loaded = settingstext::LoadStepSize(saved);
    FUZZ_EXPECT(loaded >= settingstext::kMinStepSize && loaded <= settingstext::kMaxStepSize, realShown);
    if (real >= settingstext::kMinStepSize && real <= settingstext::kMaxStepSize) {
        // Six decimals, then single precision.
        FUZZ_EXPECT(std::fabs(loaded - real) <= 5e-7f + real * FLT_EPSILON, realShown);
    }
}

}  // namespace fuzzcheck
