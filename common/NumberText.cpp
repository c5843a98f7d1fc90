#include "common/NumberText.h"

#include <cfloat>
#include <charconv>
#include <cmath>

#include "common/ExactDecimal.h"

namespace numbertext {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips leading blanks and an optional sign; returns true when the sign was '-'.
const char* SkipBlanksAndSign(const char* p, bool& negative) {
    while (IsBlank(*p)) ++p;
    negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    return p;
}

}  // namespace

int32_t ParseInteger(const char* text) {
    if (text == nullptr) return 0;
    bool negative = false;
    const char* p = SkipBlanksAndSign(text, negative);
    // Accumulate the magnitude with a ceiling just past the largest result, so
    // a long run of digits cannot overflow.
    const int64_t ceiling = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > ceiling) magnitude = ceiling;
    }
    if (negative) return static_cast<int32_t>(-magnitude);  // -2^31 fits
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

double ParseReal(const char* text) {
    if (text == nullptr) return 0.0;
    bool negative = false;
    const char* start = SkipBlanksAndSign(text, negative);

    // Find the extent of "digits[.digits][e[sign]digits]" ourselves, so that
    // only the decimal form is accepted (no hex, "inf" or "nan").
    const char* p = start;
    bool anyDigit = false;
    while (IsDigit(*p)) { ++p; anyDigit = true; }
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) { ++p; anyDigit = true; }
    }
    if (!anyDigit) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) {
            while (IsDigit(*q)) ++q;
            p = q;
        }
    }

    double value = 0.0;
    if (exactdecimal::ReadReal(start, p, value) != std::errc() || !std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

float NarrowToFloat(double value) {
    if (std::isnan(value)) return 0.0f;
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

bool FormatInteger(int32_t value, char* buffer, size_t size) {
    if (size == 0) return false;
    const std::to_chars_result r = std::to_chars(buffer, buffer + size - 1, value);
    if (r.ec != std::errc()) {
        buffer[0] = '\0';
        return false;
    }
    *r.ptr = '\0';
    return true;
}

bool FormatFixed6(double value, char* buffer, size_t size) {
    return exactdecimal::WriteFixed(value, 6, buffer, size);
}

}  // namespace numbertext
