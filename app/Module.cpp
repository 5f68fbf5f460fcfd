// The module is looked for beside the program first, so that a copy of the
// program's folder is a counter of its own, then in the folder where this
// program's build or install put it (TALLIMO_MODULE_DIR, baked in as a
// RUNPATH would be), so that a lone copy of the program runs too.
#include "app/Module.h"

#include <dlfcn.h>

#include <system_error>

namespace tallimo {
namespace {

// The window of the module `file`, or null with the reason in `why`.
RunWindow tryLoad(const std::filesystem::path& file, std::string& why) {
  void* const handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    why = ::dlerror();
    return nullptr;
  }
  const auto entry =
      reinterpret_cast<decltype(&tallimo_window_entry)>(::dlsym(handle, kWindowEntry));
  // A module stays loaded for the rest of the process, even one refused:
  // what its libraries set up when they were loaded may still be pointed to.
  if (RunWindow run = entry ? entry(TALLIMO_BUILD_STAMP) : nullptr) return run;
  why = file.string() +
        (entry ? ": from another build of Tallimo"
               : ": not a Tallimo window module (no " + std::string(kWindowEntry) + ")");
  return nullptr;
}

}  // namespace

LoadedWindow loadWindow(const std::filesystem::path& programDir) {
  const std::filesystem::path installed = TALLIMO_MODULE_DIR;
  std::error_code ec;
  const bool same = std::filesystem::equivalent(programDir, installed, ec);
  std::string looked;
  for (const auto& dir : {programDir, installed}) {
    std::string why;
    if (RunWindow run = tryLoad(dir / kWindowModule, why)) return {run, {}};
    looked += (looked.empty() ? "" : "; ") + why;
    if (same) break;
  }
  return {nullptr,
          "cannot open the window: it needs " + std::string(kWindowModule) +
              " of this build, beside the program or where it was built or installed: " + looked};
}

}  // namespace tallimo
