#pragma once
// Exact conversions between decimal text and binary floating point: correctly
// rounded reading, and writing with the exact digits the value holds. They give
// what the C++ library's from_chars and to_chars give for these forms, without
// the library's conversion tables, which would make up most of the driver DLL.
// No locale, no allocation; working numbers live on the stack.
#include <cstddef>
#include <system_error>

namespace exactdecimal {

// Reads "[-]digits[.digits][(e|E)[sign]digits]" (at least one digit in the
// mantissa; callers check the form) between first and last, rounding to the
// nearest double, ties to even. A nonzero value that rounds to zero or beyond
// the largest double gives std::errc::result_out_of_range and leaves value
// alone; otherwise std::errc().
std::errc ReadReal(const char* first, const char* last, double& value);

// printf's "%.*f": the exact value rounded to the given number of decimals
// (0 to 9), ties to even; "inf" and "nan" with their sign for the others.
// Writes a terminated string; false (and an empty one) if it does not fit.
bool WriteFixed(double value, int decimals, char* buffer, size_t size);

// The shortest decimal that reads back as the same float, in plain notation:
// 1.27f gives "1.27". A whole number is written with all of its exact digits,
// as printf writes it (1e30f gives "1000000015047466219876688855040"). Same
// result and return as WriteFixed.
bool WriteShortest(float value, char* buffer, size_t size);

}  // namespace exactdecimal
