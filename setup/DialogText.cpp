#include "setup/DialogText.h"

#include <cfloat>
#include <charconv>
#include <cmath>

#include "common/ExactDecimal.h"

namespace dialogtext {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

const char* SkipDigits(const char* p) {
    while (IsDigit(*p)) ++p;
    return p;
}

// Whether a well-formed decimal whose value is beyond double's range is too
// large (rather than too small): the power of ten of its leading digit, from
// the digits and the exponent, is positive. Only decides far-out values, so an
// estimate is enough; the exponent saturates instead of overflowing.
bool IsHuge(const char* mantissa, const char* end) {
    long scale = 0;
    bool leading = true;
    bool fraction = false;
    const char* p = mantissa;
    for (; p != end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            fraction = true;
        } else if (leading && *p == '0') {
            if (fraction) --scale;
        } else {
            leading = false;
            if (!fraction) ++scale;
        }
    }
    long exponent = 0;
    if (p != end) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        for (; p != end; ++p) {
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    return scale + exponent > 0;
}

}  // namespace

bool ParseInteger(const char* text, int32_t& value) {
    if (text == nullptr) return false;
    const char* start = SkipBlanks(text);
    const char* digits = (*start == '+' || *start == '-') ? start + 1 : start;
    const char* end = SkipDigits(digits);
    if (end == digits || *SkipBlanks(end) != '\0') return false;

    // from_chars takes a minus sign but not a plus.
    const char* first = *start == '+' ? digits : start;
    int32_t parsed = 0;
    const std::from_chars_result r = std::from_chars(first, end, parsed);
    if (r.ec != std::errc() || r.ptr != end) return false;  // out of range
    value = parsed;
    return true;
}

bool ParseReal(const char* text, float& value) {
    if (text == nullptr) return false;
    const char* start = SkipBlanks(text);
    const char* mantissa = (*start == '+' || *start == '-') ? start + 1 : start;

    const char* p = SkipDigits(mantissa);
    bool anyDigit = p != mantissa;
    if (*p == '.') {
        const char* fraction = p + 1;
        p = SkipDigits(fraction);
        anyDigit = anyDigit || p != fraction;
    }
    if (!anyDigit) return false;
    if (*p == 'e' || *p == 'E') {
        const char* exponent = p + 1;
        if (*exponent == '+' || *exponent == '-') ++exponent;
        const char* end = SkipDigits(exponent);
        if (end == exponent) return false;
        p = end;
    }
    if (*SkipBlanks(p) != '\0') return false;

    const char* first = *start == '+' ? mantissa : start;
    double parsed = 0.0;
    // A value too small to represent is zero, as the user would expect; one
    // too large is refused rather than turned into infinity.
    if (exactdecimal::ReadReal(first, p, parsed) == std::errc::result_out_of_range) {
        if (IsHuge(mantissa, p)) return false;
        parsed = 0.0;
    }
    if (!std::isfinite(parsed) || std::fabs(parsed) > FLT_MAX) return false;
    value = static_cast<float>(parsed);
    return true;
}

void FormatInteger(int32_t value, char (&text)[kNumberTextCapacity]) {
    const std::to_chars_result r = std::to_chars(text, text + sizeof text - 1, value);
    *r.ptr = '\0';
}

void FormatReal(float value, char (&text)[kNumberTextCapacity]) {
    // The longest plain form of a float (a subnormal: "0." and 45 digits, or a
    // sign and 39 integer digits) fits the buffer, so this cannot fail.
    exactdecimal::WriteShortest(value, text, sizeof text);
}

}  // namespace dialogtext
