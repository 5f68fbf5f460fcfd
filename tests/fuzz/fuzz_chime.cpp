// Any bytes as "Chimes.wav" through loadChime, the real file code, and SDL's
// wave decoder and audio queue (the dummy audio driver: no hardware).
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "mdlMain/mdlMain.h"
#include "platform/sdl/SdlWavePlayer.h"
#include "tests/fake/FakePlatform.h"

using namespace tallimo;

// SDL's decoder trusts the chunk sizes a file declares and asks for up to 4 GiB
// for a 100-byte file. Let such a request fail at once, as it does on a small
// machine (SDL then gives up and nothing plays), instead of reserving it.
extern "C" const char* __asan_default_options() {
  return "max_allocation_size_mb=256:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fake::FakePlatform fake;  // one program folder for the whole run
  fake.writeFile(mdlMain::kChimeFileName, {reinterpret_cast<const char*>(data), size});
  mdlMain::loadChime(fake, mdlMain::kChimeFileName);
  // The whole file, then the one zero byte after it.
  const auto& buffer = mdlMain::chimeBuffer;
  if (buffer.size() != size + 1 || buffer.back() != std::byte{0} ||
      (size > 0 && std::memcmp(buffer.data(), data, size) != 0))
    std::abort();
  sdl::playWave(buffer);
  return 0;
}
