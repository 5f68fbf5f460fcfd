#include "core/NumberText.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "core/Errors.h"

namespace tallimo {
namespace {

// Decodes one UTF-8 sequence at `pos`; nullopt for malformed input.
std::optional<char32_t> nextCodePoint(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  int extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    cp = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07;
  } else {
    return std::nullopt;
  }
  if (pos + extra >= s.size() && extra > 0) return std::nullopt;
  for (int i = 1; i <= extra; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (c & 0x3F);
  }
  // An overlong form would smuggle a digit or a blank past the checks.
  constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[extra]) return std::nullopt;
  pos += extra + 1;
  return cp;
}

// Folds the full-width forms an input method produces to their ASCII twins.
char32_t foldWidth(char32_t cp) {
  if (cp >= U'０' && cp <= U'９') return U'0' + (cp - U'０');
  if (cp == U'＋') return U'+';
  if (cp == U'－' || cp == U'−') return U'-';
  if (cp == U'\u3000' || cp == U'\t') return U' ';
  return cp;
}

}  // namespace

std::string formatInt(long long value) {
  return std::to_string(value);
}

std::string formatRate(float value, std::string_view decimalSeparator) {
  if (value == 0.0f) return "0";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(value));
  // buf: [-]d.dddddde[+-]XX
  std::string_view text(buf);
  std::string sign;
  if (text.front() == '-') sign = "-", text.remove_prefix(1);
  std::string digits;
  digits += text[0];
  digits += text.substr(2, 6);
  const int exponent = std::atoi(text.data() + 9);

  std::string whole;
  std::string fraction;
  if (exponent >= 6) {
    whole = digits + std::string(exponent - 6, '0');
  } else if (exponent >= 0) {
    whole = digits.substr(0, exponent + 1);
    fraction = digits.substr(exponent + 1);
  } else {
    whole = "0";
    fraction = std::string(-exponent - 1, '0') + digits;
  }
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string out = sign + whole;
  if (!fraction.empty()) out.append(decimalSeparator).append(fraction);
  return out;
}

std::int16_t parseInt16(std::string_view text) {
  std::string ascii;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto cp = nextCodePoint(text, pos);
    if (!cp) throw typeMismatchError();
    const char32_t folded = foldWidth(*cp);
    if (folded > 0x7F) throw typeMismatchError();
    ascii += static_cast<char>(folded);
  }
  const auto first = ascii.find_first_not_of(' ');
  if (first == std::string::npos) throw typeMismatchError();
  const auto last = ascii.find_last_not_of(' ');
  std::string_view body = std::string_view(ascii).substr(first, last - first + 1);

  bool negative = false;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (body.empty()) throw typeMismatchError();
  long magnitude = 0;
  bool tooLarge = false;
  for (char c : body) {
    if (c < '0' || c > '9') throw typeMismatchError();
    if (!tooLarge) {
      magnitude = magnitude * 10 + (c - '0');
      tooLarge = magnitude > 32768;
    }
  }
  if (tooLarge || (!negative && magnitude > 32767)) throw overflowError();
  return static_cast<std::int16_t>(negative ? -magnitude : magnitude);
}

int characterCount(std::string_view utf8) noexcept {
  int n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace tallimo
