#include "numbertext/NumberText.h"

#include <cfloat>
#include <charconv>
#include <cmath>

#include "numbertext/ExactDecimal.h"

namespace numbertext {
namespace {

bool IsBlank(char c, Strictness strictness) {
    if (c == ' ' || c == '\t') return true;
    return strictness == Strictness::Lenient &&
           (c == '\n' || c == '\v' || c == '\f' || c == '\r');
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* SkipDigits(const char* p) {
    while (IsDigit(*p)) ++p;
    return p;
}

// Where a number stands in a text: its digits (and, for a real, its point and
// exponent) run from digits to end, after the sign.
struct Scan {
    bool negative = false;
    const char* digits = nullptr;
    const char* end = nullptr;
    bool found = false;  // at least one digit, and (Whole) nothing around but blanks
};

Scan ScanNumber(const char* text, Strictness strictness, bool real) {
    Scan scan;
    const char* p = text;
    while (IsBlank(*p, strictness)) ++p;
    if (*p == '+' || *p == '-') {
        scan.negative = *p == '-';
        ++p;
    }
    scan.digits = p;
    p = SkipDigits(p);
    bool anyDigit = p != scan.digits;
    if (real && *p == '.') {
        const char* fraction = p + 1;
        p = SkipDigits(fraction);
        anyDigit = anyDigit || p != fraction;
    }
    // An exponent counts only with digits; without them the number ends
    // before the 'e'.
    if (real && anyDigit && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (IsDigit(*q)) p = SkipDigits(q);
    }
    scan.end = p;
    if (strictness == Strictness::Whole) {
        while (IsBlank(*p, strictness)) ++p;
        if (*p != '\0') anyDigit = false;
    }
    scan.found = anyDigit;
    return scan;
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

// The value of a scanned real; false when it is beyond double's range. A
// value too small to hold is zero, whatever its sign.
bool ScannedValue(const Scan& scan, double& value) {
    double magnitude = 0.0;
    const std::errc read = exactdecimal::ReadReal(scan.digits, scan.end, magnitude);
    if (read == std::errc::result_out_of_range) {
        value = 0.0;
        return !IsHuge(scan.digits, scan.end);
    }
    if (read != std::errc() || !std::isfinite(magnitude)) return false;
    value = scan.negative ? -magnitude : magnitude;
    return true;
}

}  // namespace

bool ParseInteger(const char* text, Strictness strictness, int32_t& value) {
    if (text == nullptr) {
        if (strictness == Strictness::Whole) return false;
        value = 0;
        return true;
    }
    const Scan scan = ScanNumber(text, strictness, false);
    if (!scan.found && strictness == Strictness::Whole) return false;
    // Accumulate the magnitude with a ceiling past the largest one that fits
    // (2^31, negated), so a long run of digits cannot overflow and one too
    // many still shows.
    const int64_t largest = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (const char* p = scan.digits; p != scan.end; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > largest) magnitude = largest + 1;
    }
    const int64_t limit = scan.negative ? largest : int64_t{INT32_MAX};
    if (magnitude > limit) {
        if (strictness == Strictness::Whole) return false;
        magnitude = limit;
    }
    value = static_cast<int32_t>(scan.negative ? -magnitude : magnitude);
    return true;
}

bool ParseReal(const char* text, Strictness strictness, float& value) {
    if (strictness == Strictness::Lenient) {
        value = NarrowToFloat(ParseReal(text));
        return true;
    }
    if (text == nullptr) return false;
    const Scan scan = ScanNumber(text, strictness, true);
    double parsed = 0.0;
    if (!scan.found || !ScannedValue(scan, parsed) || std::fabs(parsed) > FLT_MAX) return false;
    value = static_cast<float>(parsed);
    return true;
}

int32_t ParseInteger(const char* text) {
    int32_t value = 0;
    ParseInteger(text, Strictness::Lenient, value);
    return value;
}

double ParseReal(const char* text) {
    if (text == nullptr) return 0.0;
    const Scan scan = ScanNumber(text, Strictness::Lenient, true);
    double value = 0.0;
    if (!scan.found || !ScannedValue(scan, value)) return 0.0;
    return value;
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

bool FormatShortest(float value, char* buffer, size_t size) {
    return exactdecimal::WriteShortest(value, buffer, size);
}

}  // namespace numbertext
