#include "settings/SettingsText.h"

#include "numbertext/NumberText.h"

namespace settingstext {
namespace {

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

int32_t LoadInteger(const char* text, int32_t fallback, int32_t high) {
    const int32_t value = text != nullptr ? numbertext::ParseInteger(text) : fallback;
    return Clamp(value, 0, high);
}

}  // namespace

int32_t LoadPortIndex(const char* text) {
    return LoadInteger(text, kDefaultPortIndex, kMaxPortIndex);
}

int32_t LoadMaxPosition(const char* text) {
    return LoadInteger(text, kDefaultMaxPosition, kMaxMaxPosition);
}

int32_t LoadSpeed(const char* text) {
    return LoadInteger(text, kDefaultSpeed, kMaxSpeed);
}

float LoadStepSize(const char* text) {
    float value = kDefaultStepSize;
    if (text != nullptr) numbertext::ParseReal(text, numbertext::Strictness::Lenient, value);
    if (value < kMinStepSize) value = kMinStepSize;
    if (value > kMaxStepSize) value = kMaxStepSize;
    return value;
}

bool LoadTraceSwitch(const char* text) {
    return text != nullptr && numbertext::ParseInteger(text) != 0;
}

void IntegerText(int32_t value, char (&text)[kTextCapacity]) {
    numbertext::FormatInteger(value, text, sizeof text);
}

void StepSizeText(float value, char (&text)[kTextCapacity]) {
    // The largest float printed with six decimals still fits the buffer.
    numbertext::FormatFixed6(static_cast<double>(value), text, sizeof text);
}

}  // namespace settingstext
