// Text-to-number conversion against a plain model: the same answer, value or
// error number, for every input; never a value outside the 16-bit range.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/NumberText.h"

namespace {

// The model: strict UTF-8, a short list of full-width forms, wide arithmetic.
long model(std::string_view s) {  // a value, or -100000 (mismatch), 100000 (overflow)
  constexpr long kMismatch = -100000, kOverflow = 100000;
  static const std::pair<std::string_view, char> kWide[] = {
      {"０", '0'}, {"１", '1'}, {"２", '2'}, {"３", '3'}, {"４", '4'}, {"５", '5'}, {"６", '6'},
      {"７", '7'}, {"８", '8'}, {"９", '9'}, {"＋", '+'}, {"－", '-'}, {"−", '-'},  {"　", ' '}};
  std::string a;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3 : 0;
    if (n == 0 || i + n > s.size()) return kMismatch;
    const auto ch = s.substr(i, n);
    i += n;
    if (n == 1) {
      a += ch[0] == '\t' ? ' ' : ch[0];
      continue;
    }
    char folded = 0;
    for (const auto& [wide, ascii] : kWide) folded = ch == wide ? ascii : folded;
    if (folded == 0) return kMismatch;
    a += folded;
  }
  const auto first = a.find_first_not_of(' '), last = a.find_last_not_of(' ');
  if (first == std::string::npos) return kMismatch;
  std::string body = a.substr(first, last - first + 1);
  const bool negative = body[0] == '-';
  if (body[0] == '-' || body[0] == '+') body.erase(0, 1);
  if (body.empty() || body.find_first_not_of("0123456789") != std::string::npos) return kMismatch;
  body.erase(0, std::min(body.find_first_not_of('0'), body.size() - 1));
  if (body.size() > 5) return kOverflow;
  const long value = negative ? -std::stol(body) : std::stol(body);
  return value < -32768 || value > 32767 ? kOverflow : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const long expected = model(text);
  long got = 0;
  try {
    got = tallimo::parseInt16(text);
  } catch (const tallimo::AppError& e) {
    got = e.number() == tallimo::kErrOverflow       ? 100000
          : e.number() == tallimo::kErrTypeMismatch ? -100000
                                                    : 200000;
  }
  if (got != expected) {
    std::fprintf(stderr, "parseInt16 gave %ld, the model %ld\n", got, expected);
    std::abort();
  }
  return 0;
}
