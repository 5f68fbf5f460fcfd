#include "core/InstanceName.h"

#include <cstdint>
#include <cstdio>

namespace tallimo {

std::string instanceName(std::string_view folder) {
  // 64-bit FNV-1a: short, stable across builds and platforms.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : folder) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "tallimo-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace tallimo
