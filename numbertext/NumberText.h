#pragma once
// Reading and writing the decimal numbers that travel in controller replies,
// registry values and the setup dialog's edits, whatever the process locale.
//
// One scanner reads them all; what differs is how strict it is:
//   Lenient  what the controller and older settings were written for, the C
//            library's atoi/atof: any C blank first, an optional sign, and a
//            stop at the first character that does not belong. It never
//            fails: no digits read as 0, integers saturate to the 32-bit
//            range, and a real number that is not finite reads as 0.
//   Whole    what a user typed into an edit: spaces and tabs around, the
//            number and nothing else. Anything else, and any value that does
//            not fit, is refused, so the user is asked again instead of
//            getting a guess.
#include <cstddef>
#include <cstdint>

namespace numbertext {

enum class Strictness { Lenient, Whole };

// Decimal digits after the blanks and the sign. False (value untouched) only
// in Whole mode, for text that is not such a number or does not fit 32 bits,
// and for a null text.
bool ParseInteger(const char* text, Strictness strictness, int32_t& value);

// Digits with an optional decimal point and exponent: never hexadecimal,
// "inf" or "nan". Lenient: saturates at the float range. Whole: false beyond
// it; a value too small to hold is zero, as the user would expect.
bool ParseReal(const char* text, Strictness strictness, float& value);

// The lenient readings, for the controller's replies and the settings.
int32_t ParseInteger(const char* text);
double ParseReal(const char* text);

// Narrows to single precision, saturating at the float range instead of
// leaving an out-of-range conversion undefined.
float NarrowToFloat(double value);

// Each writes a terminated string and returns false, leaving an empty one,
// only when it does not fit.
// "%i" and "%f" (six decimals) in the C locale.
bool FormatInteger(int32_t value, char* buffer, size_t size);
bool FormatFixed6(double value, char* buffer, size_t size);
// The shortest plain decimal that reads back as the same float: 1.27f shows
// as "1.27", not as the 1.2699999809... it holds. 64 bytes hold any float.
bool FormatShortest(float value, char* buffer, size_t size);

}  // namespace numbertext
