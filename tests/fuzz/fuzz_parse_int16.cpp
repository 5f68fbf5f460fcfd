// Any bytes through the text-to-number conversion: a value that its own
// digits give back, or one of the two errors a user may see. The exact
// answers are the unit tests' table.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/Errors.h"
#include "core/NumberText.h"

using namespace tallimo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const std::int16_t value = parseInt16({reinterpret_cast<const char*>(data), size});
    if (parseInt16(std::to_string(value)) != value) std::abort();
  } catch (const AppError& e) {
    if (e.number() != kErrOverflow && e.number() != kErrTypeMismatch) std::abort();
  }
  return 0;
}
