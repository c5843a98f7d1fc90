#pragma once
// Reading and writing the decimal numbers that travel in controller replies and
// registry values. The controller and older settings were written for the C
// library's atoi/atof; these keep that leniency (leading blanks, optional sign,
// stop at the first character that does not belong) but never depend on the
// process locale and never overflow: integers saturate to the 32-bit range and
// a real number that is not finite reads as 0.
#include <cstddef>
#include <cstdint>

namespace numbertext {

// atoi-like: blanks, optional sign, decimal digits; no digits gives 0.
int32_t ParseInteger(const char* text);

// atof-like for decimal numbers with optional fraction and exponent. Anything
// that does not give a finite double (no digits, overflow) gives 0.0.
double ParseReal(const char* text);

// Narrows to single precision, saturating at the float range instead of
// leaving an out-of-range conversion undefined.
float NarrowToFloat(double value);

// "%i" and "%f" (six decimals) in the C locale, whatever the host process set.
// Both write a terminated string and return false only if it does not fit.
bool FormatInteger(int32_t value, char* buffer, size_t size);
bool FormatFixed6(double value, char* buffer, size_t size);

}  // namespace numbertext
