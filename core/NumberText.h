#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tallimo {

// Plain decimal: "-" for negatives, no padding, no grouping ("0", "17", "-3").
std::string formatInt(long long value);

// A single-precision value with at most seven significant digits, rounded,
// never in exponent form, trailing zeros and point dropped ("33.33333", "50").
std::string formatRate(float value, std::string_view decimalSeparator = ".");

// Text typed into a box to a signed 16-bit number. Blanks around the number
// (including the ideographic space) and full-width digits and signs are
// accepted; anything else, blanks alone or the empty text is a type mismatch,
// and a number outside -32768..32767 is an overflow. Throws AppError.
std::int16_t parseInt16(std::string_view text);

// Number of characters (code points) in UTF-8 text.
int characterCount(std::string_view utf8) noexcept;

}  // namespace tallimo
