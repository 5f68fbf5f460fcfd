// Text-to-number conversion against a plain model: the same answer, value or
// error number, for every input; never a value outside the 16-bit range.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/NumberText.h"

using namespace tallimo;

// The model: ASCII, and of the rest only the exact UTF-8 forms of the
// full-width digits and signs and the ideographic space; then blanks around
// an optional sign and decimal digits. Returns the value or the error number.
static long model(std::string_view s) {
  static const std::string_view kWide[] = {"０", "１", "２", "３", "４", "５", "６",
                                           "７", "８", "９", "＋", "－", "−",  "　"};
  std::string a;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t k = 0;
    while (k < 14 && !s.substr(i).starts_with(kWide[k])) ++k;
    if (k < 14) {
      a += "0123456789+-- "[k], i += kWide[k].size();
    } else if (static_cast<unsigned char>(s[i]) < 0x80) {
      a += s[i] == '\t' ? ' ' : s[i], ++i;
    } else {
      return kErrTypeMismatch;
    }
  }
  const auto first = a.find_first_not_of(' '), last = a.find_last_not_of(' ');
  if (first == std::string::npos) return kErrTypeMismatch;
  std::string body = a.substr(first, last - first + 1);
  const bool negative = body[0] == '-';
  if (body[0] == '-' || body[0] == '+') body.erase(0, 1);
  if (body.empty() || body.find_first_not_of("0123456789") != std::string::npos)
    return kErrTypeMismatch;
  body.erase(0, std::min(body.find_first_not_of('0'), body.size() - 1));
  const long value = (negative ? -1 : 1) * (body.size() > 5 ? 99999 : std::stol(body));
  return value < -32768 || value > 32767 ? kErrOverflow : 1000000 + value;  // apart from errors
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  long got = 0;
  try {
    got = 1000000 + parseInt16(text);
  } catch (const AppError& e) {
    got = e.number();
  }
  if (got != model(text)) {
    std::fprintf(stderr, "parseInt16 gave %ld, the model %ld\n", got, model(text));
    std::abort();
  }
  return 0;
}
