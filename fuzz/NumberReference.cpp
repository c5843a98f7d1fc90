#include "fuzz/NumberReference.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzzcheck {

int32_t ReferenceInteger(const char* text) {
    // strtoll saturates at the 64-bit range, which is far outside ours.
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

double ReferenceReal(const char* text) {
    // strtod also reads hexadecimal numbers, infinities and NaNs; none of them
    // may reach a setting or a temperature, so the text is cut before the first
    // character that cannot belong to a decimal number.
    const size_t decimal = std::strspn(text, " \t\n\v\f\r+-0123456789.eE");
    const std::string cut(text, decimal);
    const double value = std::strtod(cut.c_str(), nullptr);
    return std::isfinite(value) ? value : 0.0;
}

float ReferenceNarrow(double value) {
    if (std::isnan(value)) return 0.0f;
    if (value >= static_cast<double>(FLT_MAX)) return FLT_MAX;
    if (value <= -static_cast<double>(FLT_MAX)) return -FLT_MAX;
    return static_cast<float>(value);
}

}  // namespace fuzzcheck
