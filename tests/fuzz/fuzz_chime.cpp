// loadChime then playChime over any bytes, through the real file code and
// SDL's wave decoder and audio queue (the dummy audio driver: no hardware).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "mdlMain/mdlMain.h"
#include "platform/posix/PosixSystem.h"
#include "platform/sdl/SdlWavePlayer.h"

using namespace tallimo;

namespace {

// Just the services the chime uses; the rest is never reached.
struct ChimePlatform final : Platform {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tallimo-fuzz-chime-" + std::to_string(::getpid()));
  std::unique_ptr<Form> createForm(const FormSpec&, FormEvents&) override { std::abort(); }
  int run(Form&) override { std::abort(); }
  MsgAnswer messageBox(std::string_view, std::string_view, MsgIcon, MsgButtons) override {
    std::abort();
  }
  [[noreturn]] void fatalError(const AppError&) override { std::abort(); }
  LocalTime now() override { return {}; }
  std::string decimalSeparator() override { return "."; }
  std::filesystem::path programFile(std::string_view name) override { return dir / name; }
  std::unique_ptr<BinaryFile> openFile(const std::filesystem::path& p) override {
    return posix::openFile(p);
  }
  void playWave(std::span<const std::byte> wave) noexcept override { sdl::playWave(wave); }
  ChimePlatform() { std::filesystem::create_directories(dir); }
  ~ChimePlatform() override { std::filesystem::remove_all(dir); }
} platform;

}  // namespace

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
  std::ofstream(platform.dir / mdlMain::kChimeFileName, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  mdlMain::loadChime(platform, mdlMain::kChimeFileName);
  // The whole file, then the one zero byte after it.
  if (mdlMain::chimeBuffer.size() != size + 1 || mdlMain::chimeBuffer.back() != std::byte{0} ||
      (size > 0 && std::memcmp(mdlMain::chimeBuffer.data(), data, size) != 0))
    std::abort();
  mdlMain::playChime(platform);
  return 0;
}
