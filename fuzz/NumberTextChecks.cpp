// Number text: the input, up to its first NUL, is parsed; its first bytes also
// give an integer and a double (any bit pattern) to format, and its last byte
// the size of the buffer they are formatted into.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "numbertext/NumberText.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/NumberReference.h"

namespace fuzzcheck {
namespace {

constexpr size_t kMaxBuffer = 72;
constexpr char kUnwritten = '\x7f';

template <typename T>
T FromBytes(const uint8_t* data, size_t size) {
    T value{};
    std::memcpy(&value, data, std::min(size, sizeof value));
    return value;
}

// A formatter must write a terminated text within the size it is given and
// nothing beyond it, and fail (leaving an empty text) exactly when the C
// library's text would not fit.
template <typename Format>
void CheckFormat(Format format, const char* expected, size_t size, const std::string& shown) {
    char buffer[kMaxBuffer + 8];
    std::memset(buffer, kUnwritten, sizeof buffer);
    const bool fits = std::strlen(expected) < size;
    const bool ok = format(buffer, size);
    FUZZ_EXPECT(ok == fits, shown);
    for (size_t i = size; i < sizeof buffer; ++i) FUZZ_EXPECT(buffer[i] == kUnwritten, shown);
    if (size == 0) return;
    FUZZ_EXPECT(std::memchr(buffer, '\0', size) != nullptr, shown);
    FUZZ_EXPECT(ok ? std::strcmp(buffer, expected) == 0 : buffer[0] == '\0', shown);
}

}  // namespace

void CheckNumberText(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* parsed = text.c_str();
    const std::string shown = Quoted(text.data(), text.size());

    FUZZ_EXPECT(numbertext::ParseInteger(parsed) == ReferenceInteger(parsed), shown);
    const double real = numbertext::ParseReal(parsed);
    FUZZ_EXPECT(std::isfinite(real), shown);
    FUZZ_EXPECT(real == ReferenceReal(parsed), shown);

    // What the dialog takes whole, the lenient reading takes the same way.
    int32_t whole = 0;
    if (numbertext::ParseInteger(parsed, numbertext::Strictness::Whole, whole)) {
        FUZZ_EXPECT(whole == numbertext::ParseInteger(parsed), shown);
    }
    float wholeReal = 0.0f;
    if (numbertext::ParseReal(parsed, numbertext::Strictness::Whole, wholeReal)) {
        FUZZ_EXPECT(wholeReal == numbertext::NarrowToFloat(real), shown);
    }

    const int32_t integer = FromBytes<int32_t>(data, size);
    const double anyDouble = FromBytes<double>(data, size);
    const size_t bufferSize = size > 0 ? data[size - 1] % (kMaxBuffer + 1) : kMaxBuffer;

    const float narrowed = numbertext::NarrowToFloat(anyDouble);
    FUZZ_EXPECT(!std::isnan(narrowed), shown);
    FUZZ_EXPECT(narrowed == ReferenceNarrow(anyDouble), shown);

    char expected[512];
    std::snprintf(expected, sizeof expected, "%i", static_cast<int>(integer));
    CheckFormat([&](char* b, size_t s) { return numbertext::FormatInteger(integer, b, s); },
                expected, bufferSize, shown + " as %i");
    char text32[16];
    if (numbertext::FormatInteger(integer, text32, sizeof text32)) {
        FUZZ_EXPECT(numbertext::ParseInteger(text32) == integer, shown);
    }

    // "%f" of the largest doubles runs to over 300 characters.
    std::snprintf(expected, sizeof expected, "%f", anyDouble);
    CheckFormat([&](char* b, size_t s) { return numbertext::FormatFixed6(anyDouble, b, s); },
                expected, bufferSize, shown + " as %f");
    char fixed[kMaxBuffer];
    if (std::isfinite(anyDouble) && numbertext::FormatFixed6(anyDouble, fixed, sizeof fixed)) {
        // Six decimals lose at most half a millionth; parsing adds its own rounding.
        const double back = numbertext::ParseReal(fixed);
        FUZZ_EXPECT(std::fabs(back - anyDouble) <= 5e-7 + std::fabs(anyDouble) * DBL_EPSILON,
                    shown + " read back from " + fixed);
    }
}

}  // namespace fuzzcheck
