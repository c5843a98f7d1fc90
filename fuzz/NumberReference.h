#pragma once
// What the number parsing must give, computed another way: with the C
// library's strtoll and strtod in the C locale (nothing here changes it),
// saturated or cut short where our reading deliberately differs from theirs.
#include <cstdint>

namespace fuzzcheck {

// atoi's reading with saturation instead of undefined overflow.
int32_t ReferenceInteger(const char* text);

// atof's reading of a decimal number (no hex, "inf" or "nan"); 0 for anything
// that is not finite.
double ReferenceReal(const char* text);

// A double as a float, saturated at the float range; NaN gives 0.
float ReferenceNarrow(double value);

}  // namespace fuzzcheck
