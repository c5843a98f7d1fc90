#pragma once
// The four driver settings, their defaults and ranges, and the text forms in
// which they are stored. Pure code: the registry access is in DriverSettings.
#include <cstddef>
#include <cstdint>

struct DriverSettings {
    int32_t PortIndex;    // 0..31, the port is COM(PortIndex + 1)
    int32_t MaxPosition;  // largest step position a move may target
    float StepSize;       // microns per step
    int32_t Speed;        // 0 slow, 1 medium, 2 fast; -1 none chosen
};

namespace settingstext {

// Registry value names, in the order they are read and written.
constexpr const char kPortIndexName[] = "COM";
constexpr const char kMaxPositionName[] = "MaxPosition";
constexpr const char kStepSizeName[] = "StepSize";
constexpr const char kSpeedName[] = "Speed";
// Not a setting of the record: the trace log's switch, kept beside them and
// never written by a save.
constexpr const char kTraceName[] = "Trace";

// What a record holds before the settings key could be used at all.
constexpr DriverSettings kInitialSettings = {0, 0, 0.0f, -1};

constexpr int32_t kDefaultPortIndex = 0;
constexpr int32_t kDefaultMaxPosition = 20000;
constexpr float kDefaultStepSize = 1.27f;
constexpr int32_t kDefaultSpeed = 1;

constexpr int32_t kMaxPortIndex = 31;
constexpr int32_t kMaxMaxPosition = 100000;
constexpr float kMinStepSize = 0.01f;
constexpr float kMaxStepSize = 1000.0f;
constexpr int32_t kMaxSpeed = 2;

// A stored value's text, or nullptr when the value is missing or unreadable,
// turned into the setting it loads as: the parse (or the default), forced
// into range.
int32_t LoadPortIndex(const char* text);
int32_t LoadMaxPosition(const char* text);
float LoadStepSize(const char* text);
int32_t LoadSpeed(const char* text);
// On when the text reads as an integer other than 0; off when missing.
bool LoadTraceSwitch(const char* text);

// The text a setting is stored as: "%i" for the integers, "%f" for the step
// size. The buffer must hold kTextCapacity bytes.
constexpr size_t kTextCapacity = 64;
void IntegerText(int32_t value, char (&text)[kTextCapacity]);
void StepSizeText(float value, char (&text)[kTextCapacity]);

}  // namespace settingstext
