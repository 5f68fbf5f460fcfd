// Any bytes through the text-to-number conversion, against a slow model of its
// rules: the full-width forms an input method types become their ASCII twins,
// any other character beyond ASCII is a type mismatch, and what is left must be
// blanks around an optional sign and decimal digits that fit 16 bits.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/NumberText.h"

using namespace tallimo;

namespace {

int model(std::string text, int& value) {  // the error number, 0 with `value`
  const auto fold = [&](const std::string& wide, char ascii) {
    for (std::size_t at; (at = text.find(wide)) != std::string::npos;)
      text.replace(at, wide.size(), 1, ascii);
  };
  for (char digit = 0; digit < 10; ++digit)
    fold(std::string("\xEF\xBC") + char('\x90' + digit), char('0' + digit));
  for (const auto& [wide, ascii] :
       {std::pair("＋", '+'), {"－", '-'}, {"−", '-'}, {"\u3000", ' '}, {"\t", ' '}})
    fold(wide, ascii);
  if (std::ranges::any_of(text, [](char c) { return c & 0x80; })) return kErrTypeMismatch;
  const auto first = text.find_first_not_of(' ');
  std::string_view body = first == std::string::npos ? "" : std::string_view(text).substr(first);
  body = body.substr(0, body.find_last_not_of(' ') + 1);
  const bool negative = body.starts_with('-');
  if (body.starts_with('-') || body.starts_with('+')) body.remove_prefix(1);
  if (body.empty() || !std::ranges::all_of(body, [](char c) { return c >= '0' && c <= '9'; }))
    return kErrTypeMismatch;
  body.remove_prefix(std::min(body.find_first_not_of('0'), body.size()));
  const long magnitude = body.size() > 6 ? 99999999 : std::atol(std::string(body).c_str());
  if (magnitude > (negative ? 32768 : 32767)) return kErrOverflow;
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int value = 0, error = 0, expected = 0;
  const int expectedError = model(text, expected);
  try {
    value = parseInt16(text);
  } catch (const AppError& e) {
    error = e.number();
  }
  if (error != expectedError || (error == 0 && value != expected)) std::abort();
  return 0;
}
