#include "numbertext/ExactDecimal.h"

#include <cstdint>
#include <cstring>

namespace exactdecimal {
namespace {

// An unsigned integer of up to 4096 bits. The largest ones needed: a power of
// ten of up to 1126 digits shifted left by 64 bits while reading a tiny value.
class Big {
public:
    static constexpr size_t kWords = 128;

    explicit Big(uint64_t value = 0) {
        m_word[0] = static_cast<uint32_t>(value);
        m_word[1] = static_cast<uint32_t>(value >> 32);
        m_size = m_word[1] ? 2 : (m_word[0] ? 1 : 0);
    }

    bool IsZero() const { return m_size == 0; }

    size_t BitLength() const {
        if (m_size == 0) return 0;
        size_t bits = 32 * (m_size - 1);
        for (uint32_t top = m_word[m_size - 1]; top != 0; top >>= 1) ++bits;
        return bits;
    }

    bool Bit(size_t index) const {
        const size_t word = index / 32;
        return word < m_size && ((m_word[word] >> (index % 32)) & 1u);
    }

    // Whether any bit below index is set.
    bool AnyBitBelow(size_t index) const {
        const size_t whole = index / 32 < m_size ? index / 32 : m_size;
        for (size_t i = 0; i < whole; ++i) {
            if (m_word[i] != 0) return true;
        }
        if (whole == m_size || index % 32 == 0) return false;
        return (m_word[whole] & ((1u << (index % 32)) - 1u)) != 0;
    }

    // The 64 bits starting at bit index (bits past the top read as zero).
    uint64_t Bits64(size_t index) const {
        uint64_t result = 0;
        for (size_t i = 0; i < 64; ++i) {
            if (Bit(index + i)) result |= uint64_t{1} << i;
        }
        return result;
    }

    void MultiplyAdd(uint32_t factor, uint32_t addend = 0) {
        uint64_t carry = addend;
        for (size_t i = 0; i < m_size; ++i) {
            const uint64_t product = uint64_t{m_word[i]} * factor + carry;
            m_word[i] = static_cast<uint32_t>(product);
            carry = product >> 32;
        }
        if (carry != 0 && m_size < kWords) m_word[m_size++] = static_cast<uint32_t>(carry);
    }

    void MultiplyByPowerOfTen(unsigned exponent) {
        for (; exponent >= 9; exponent -= 9) MultiplyAdd(1000000000u);
        static const uint32_t kSmall[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        if (exponent > 0) MultiplyAdd(kSmall[exponent]);
    }

    void ShiftLeft(size_t bits) {
        if (m_size == 0 || bits == 0) return;
        const size_t words = bits / 32;
        const unsigned rest = bits % 32;
        size_t size = m_size + words + 1;
        if (size > kWords) size = kWords;
        // From the top down, so every word is read before it is overwritten.
        for (size_t i = size; i-- > 0;) {
            uint32_t word = 0;
            if (i >= words) {
                const size_t from = i - words;
                if (from < m_size) word = m_word[from] << rest;
                if (rest != 0 && from >= 1 && from - 1 < m_size) word |= m_word[from - 1] >> (32 - rest);
            }
            m_word[i] = word;
        }
        m_size = size;
        Trim();
    }

    void ShiftRight(size_t bits) {
        const size_t words = bits / 32;
        const unsigned rest = bits % 32;
        if (words >= m_size) {
            m_size = 0;
            return;
        }
        for (size_t i = 0; i + words < m_size; ++i) {
            uint32_t word = m_word[i + words] >> rest;
            if (rest != 0 && i + words + 1 < m_size) word |= m_word[i + words + 1] << (32 - rest);
            m_word[i] = word;
        }
        m_size -= words;
        Trim();
    }

    // this -= other; other must not be larger.
    void Subtract(const Big& other) {
        int64_t borrow = 0;
        for (size_t i = 0; i < m_size; ++i) {
            int64_t difference = int64_t{m_word[i]} - (i < other.m_size ? other.m_word[i] : 0) - borrow;
            borrow = difference < 0;
            if (borrow) difference += int64_t{1} << 32;
            m_word[i] = static_cast<uint32_t>(difference);
        }
        Trim();
    }

    // Divides by divisor and returns the remainder.
    uint32_t DivideSmall(uint32_t divisor) {
        uint64_t remainder = 0;
        for (size_t i = m_size; i-- > 0;) {
            const uint64_t current = (remainder << 32) | m_word[i];
            m_word[i] = static_cast<uint32_t>(current / divisor);
            remainder = current % divisor;
        }
        Trim();
        return static_cast<uint32_t>(remainder);
    }

    friend int Compare(const Big& a, const Big& b) {
        if (a.m_size != b.m_size) return a.m_size < b.m_size ? -1 : 1;
        for (size_t i = a.m_size; i-- > 0;) {
            if (a.m_word[i] != b.m_word[i]) return a.m_word[i] < b.m_word[i] ? -1 : 1;
        }
        return 0;
    }

    // The decimal digits, most significant first, without leading zeros (none
    // at all for zero). Returns their count, or 0 if they do not fit.
    size_t Digits(char* out, size_t capacity) const {
        Big rest = *this;
        char reversed[1300];
        size_t count = 0;
        while (!rest.IsZero()) {
            uint32_t chunk = rest.DivideSmall(1000000000u);
            for (int i = 0; i < 9 && (chunk != 0 || !rest.IsZero()); ++i) {
                reversed[count++] = static_cast<char>('0' + chunk % 10);
                chunk /= 10;
            }
        }
        if (count > capacity) return 0;
        for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
        return count;
    }

private:
    void Trim() {
        while (m_size > 0 && m_word[m_size - 1] == 0) --m_size;
    }

    uint32_t m_word[kWords] = {};
    size_t m_size = 0;
};

// Significant digits kept while reading. A halfway point between two doubles
// has at most 767 of them, so beyond 800 only whether anything nonzero
// follows can matter, and one more digit 1 stands for that.
constexpr int kKeptDigits = 800;

// q >> shift, rounded to nearest with ties to even; sticky says that
// something nonzero lies below q's last bit.
uint64_t RoundShift(uint64_t q, unsigned shift, bool sticky) {
    if (shift == 0) return q;
    if (shift > 64) return 0;  // below half of the last place kept
    const uint64_t kept = shift == 64 ? 0 : q >> shift;
    const uint64_t rest = shift == 64 ? q : q & ((uint64_t{1} << shift) - 1);
    const uint64_t half = uint64_t{1} << (shift - 1);
    const bool up = rest > half || (rest == half && (sticky || (kept & 1)));
    return kept + (up ? 1 : 0);
}

// The double nearest q * 2^exponent (plus the sticky bit below q); false when
// it rounds to zero or overflows.
bool Assemble(uint64_t q, int exponent, bool sticky, bool negative, double& value) {
    int leading = 0;
    while (!(q >> 63)) {
        q <<= 1;
        ++leading;
    }
    int top = exponent - leading + 63;  // q * 2^exponent lies in [2^top, 2^(top+1))
    unsigned shift = 11;               // 64 bits to 53
    if (top < -1022) shift += static_cast<unsigned>(-1022 - top);
    uint64_t mantissa = RoundShift(q, shift, sticky);
    uint64_t bits = 0;
    if (top >= -1022) {
        if (mantissa >> 53) {
            mantissa >>= 1;
            ++top;
        }
        if (top > 1023) return false;
        bits = (uint64_t(top + 1023) << 52) | (mantissa & ((uint64_t{1} << 52) - 1));
    } else {
        if (mantissa == 0) return false;
        bits = mantissa;  // rounding up into the least normal sets the exponent field itself
    }
    if (negative) bits |= uint64_t{1} << 63;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Copies sign, digits (padded with zeros to more than decimals of them) and a
// decimal point before the last decimals digits, then the terminating zero.
bool Emit(bool negative, const char* digits, size_t count, size_t decimals, char* buffer, size_t size) {
    const size_t shown = count > decimals ? count : decimals + 1;
    const size_t length = (negative ? 1 : 0) + shown + (decimals > 0 ? 1 : 0);
    if (length + 1 > size) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    char* out = buffer;
    if (negative) *out++ = '-';
    for (size_t i = 0; i < shown; ++i) {
        if (decimals > 0 && i == shown - decimals) *out++ = '.';
        *out++ = i < shown - count ? '0' : digits[i - (shown - count)];
    }
    *out = '\0';
    return true;
}

bool EmitNumber(bool negative, const Big& number, size_t decimals, char* buffer, size_t size) {
    char digits[1300];
    const size_t count = number.Digits(digits, sizeof digits);
    return Emit(negative, digits, count, decimals, buffer, size);
}

bool EmitWord(const char* word, bool negative, char* buffer, size_t size) {
    const size_t length = std::strlen(word) + (negative ? 1 : 0);
    if (length + 1 > size) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    buffer[0] = '-';
    std::memcpy(buffer + (negative ? 1 : 0), word, std::strlen(word) + 1);
    return true;
}

}  // namespace

std::errc ReadReal(const char* first, const char* last, double& value) {
    const bool negative = first != last && *first == '-';
    if (negative) ++first;

    Big digits;
    int kept = 0;
    long scale = 0;  // value = digits * 10^scale
    bool point = false;
    bool nonzeroDropped = false;
    const char* p = first;
    for (; p != last && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
            continue;
        }
        const uint32_t digit = static_cast<uint32_t>(*p - '0');
        if (kept == 0 && digit == 0) {
            if (point) --scale;
        } else if (kept < kKeptDigits) {
            digits.MultiplyAdd(10, digit);
            ++kept;
            if (point) --scale;
        } else {
            nonzeroDropped = nonzeroDropped || digit != 0;
            if (!point) ++scale;
        }
    }
    long exponent = 0;
    if (p != last) {
        ++p;
        const bool negativeExponent = p != last && *p == '-';
        if (p != last && (*p == '+' || *p == '-')) ++p;
        // Far beyond any double either way; saturating keeps it from overflowing.
        for (; p != last && IsDigit(*p); ++p) {
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }

    if (kept == 0) {
        value = negative ? -0.0 : 0.0;
        return std::errc();
    }
    if (nonzeroDropped) {
        digits.MultiplyAdd(10, 1);
        ++kept;
        --scale;
    }
    scale += exponent;
    // The power of ten of the leading digit: beyond these the result is
    // infinite or rounds to zero whatever the digits are.
    const long leading = kept - 1 + scale;
    if (leading > 309 || leading < -325) return std::errc::result_out_of_range;

    uint64_t q = 0;
    int binaryExponent = 0;
    bool sticky = false;
    if (scale >= 0) {
        digits.MultiplyByPowerOfTen(static_cast<unsigned>(scale));
        const size_t bits = digits.BitLength();
        const size_t low = bits > 64 ? bits - 64 : 0;
        q = digits.Bits64(low);
        sticky = digits.AnyBitBelow(low);
        binaryExponent = static_cast<int>(low);
    } else {
        // digits / 10^-scale, as a quotient of 63 or 64 bits and a remainder.
        Big divisor(1);
        divisor.MultiplyByPowerOfTen(static_cast<unsigned>(-scale));
        const long shift = 63 + static_cast<long>(divisor.BitLength()) - static_cast<long>(digits.BitLength());
        if (shift >= 0) {
            digits.ShiftLeft(static_cast<size_t>(shift));
        } else {
            divisor.ShiftLeft(static_cast<size_t>(-shift));
        }
        divisor.ShiftLeft(63);
        for (int bit = 63; bit >= 0; --bit) {
            if (Compare(digits, divisor) >= 0) {
                digits.Subtract(divisor);
                q |= uint64_t{1} << bit;
            }
            divisor.ShiftRight(1);
        }
        sticky = !digits.IsZero();
        binaryExponent = static_cast<int>(-shift);
    }
    double result = 0.0;
    if (!Assemble(q, binaryExponent, sticky, negative, result)) return std::errc::result_out_of_range;
    value = result;
    return std::errc();
}

bool WriteFixed(double value, int decimals, char* buffer, size_t size) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const unsigned biased = static_cast<unsigned>((bits >> 52) & 0x7ff);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0x7ff) return EmitWord(fraction ? "nan" : "inf", negative, buffer, size);
    if (decimals < 0 || decimals > 9) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }

    const uint64_t mantissa = biased == 0 ? fraction : fraction | (uint64_t{1} << 52);
    const int exponent = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;
    Big number(mantissa);
    if (exponent >= 0) {
        number.ShiftLeft(static_cast<size_t>(exponent));
        number.MultiplyByPowerOfTen(static_cast<unsigned>(decimals));
    } else {
        // mantissa * 10^decimals / 2^-exponent, rounded to a whole number.
        number.MultiplyByPowerOfTen(static_cast<unsigned>(decimals));
        const size_t shift = static_cast<size_t>(-exponent);
        const bool half = number.Bit(shift - 1);
        const bool below = number.AnyBitBelow(shift - 1);
        number.ShiftRight(shift);
        if (half && (below || number.Bit(0))) number.MultiplyAdd(1, 1);
    }
    return EmitNumber(negative, number, static_cast<size_t>(decimals), buffer, size);
}

bool WriteShortest(float value, char* buffer, size_t size) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 31) != 0;
    const unsigned biased = (bits >> 23) & 0xff;
    const uint32_t fraction = bits & 0x7fffff;
    if (biased == 0xff) return EmitWord(fraction ? "nan" : "inf", negative, buffer, size);

    const uint32_t mantissa = biased == 0 ? fraction : fraction | 0x800000;
    const int exponent = biased == 0 ? -149 : static_cast<int>(biased) - 150;
    Big number(mantissa);
    if (exponent >= 0) {
        number.ShiftLeft(static_cast<size_t>(exponent));
        return EmitNumber(negative, number, 0, buffer, size);
    }
    const size_t shift = static_cast<size_t>(-exponent);
    if (!number.AnyBitBelow(shift)) {
        number.ShiftRight(shift);
        return EmitNumber(negative, number, 0, buffer, size);
    }

    // The values that read back as this float lie between the midpoints to its
    // neighbours, which at a power of two are unevenly far; with an even
    // mantissa the midpoints themselves read back as it too. In units of
    // 2^(exponent - 2): (4m - 2 or 4m - 1) to 4m + 2.
    const bool closerBelow = fraction == 0 && biased > 1;
    const bool even = (mantissa & 1) == 0;
    const uint64_t lowBound = 4 * uint64_t{mantissa} - (closerBelow ? 1 : 2);
    const uint64_t highBound = 4 * uint64_t{mantissa} + 2;
    for (unsigned decimals = 1; decimals <= 160; ++decimals) {
        // Is candidate / 10^decimals within the bounds?
        const auto readsBack = [&](const Big& candidate) {
            Big scaled = candidate;
            scaled.ShiftLeft(shift + 2);
            Big low(lowBound);
            low.MultiplyByPowerOfTen(decimals);
            Big high(highBound);
            high.MultiplyByPowerOfTen(decimals);
            const int belowHigh = Compare(scaled, high);
            const int aboveLow = Compare(scaled, low);
            return even ? (aboveLow >= 0 && belowHigh <= 0) : (aboveLow > 0 && belowHigh < 0);
        };
        Big down(mantissa);
        down.MultiplyByPowerOfTen(decimals);
        const bool half = down.Bit(shift - 1);
        const bool below = down.AnyBitBelow(shift - 1);
        down.ShiftRight(shift);
        Big up = down;
        up.MultiplyAdd(1, 1);
        const bool downFits = readsBack(down);
        const bool upFits = (half || below) && readsBack(up);
        if (!downFits && !upFits) continue;
        // Both fit: the nearer one, ties to an even last digit.
        const bool takeUp = upFits && (!downFits || (half && (below || down.Bit(0))));
        return EmitNumber(negative, takeUp ? up : down, decimals, buffer, size);
    }
    if (size > 0) buffer[0] = '\0';
    return false;  // not reached: a float has at most 149 binary, so decimal, places
}

}  // namespace exactdecimal
