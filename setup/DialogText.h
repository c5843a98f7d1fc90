#pragma once
// The text of the dialog's number edits: the strict reading the data exchange
// applies before it takes a value (anything but a whole number is refused, so
// the user is asked again instead of getting a guess), and the text a value is
// shown as. Pure code, independent of the process locale.
#include <cstddef>
#include <cstdint>

namespace dialogtext {

// Blanks, an optional sign, decimal digits, blanks; nothing else. False when
// the text is not such a number or does not fit in 32 bits.
bool ParseInteger(const char* text, int32_t& value);

// Blanks, an optional sign, digits with an optional decimal point, an optional
// exponent, blanks. False for anything else (hexadecimal, "inf", "nan", a
// decimal comma) and for a value beyond the single-precision range.
bool ParseReal(const char* text, float& value);

constexpr size_t kNumberTextCapacity = 64;

void FormatInteger(int32_t value, char (&text)[kNumberTextCapacity]);

// The shortest plain decimal that reads back as the same float: 1.27f shows
// as "1.27", not as the 1.2699999809... it holds.
void FormatReal(float value, char (&text)[kNumberTextCapacity]);

}  // namespace dialogtext
