// Any bytes through the text-to-number conversion, under the sanitizers: a
// number or a clean overflow or type mismatch, never a read past the text. The
// rules themselves are the table's in tests/unit/NumberTextTest.cpp.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Errors.h"
#include "core/NumberText.h"

using namespace tallimo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    parseInt16(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const AppError& e) {
    if (e.number() != kErrOverflow && e.number() != kErrTypeMismatch) std::abort();
  }
  return 0;
}
