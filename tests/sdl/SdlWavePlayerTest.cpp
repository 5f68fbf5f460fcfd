// The SDL player against SDL's disk audio driver, which writes what the device
// plays to a raw file at the sound's own pace: the checks poll that file, and
// leave a busy machine seconds of room.

#include <gtest/gtest.h>

#include <SDL.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl/SdlWavePlayer.h"

namespace tallimo::sdl {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;
constexpr int kTenth = 2205;  // samples in a tenth of a second

// A 16-bit mono 22050 Hz square wave of +-amplitude as the chime loader leaves
// it in memory, with one zero byte after.
Bytes wave(int samples, int amplitude) {
  Bytes out;
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<std::byte>(value >> (8 * i)));
  };
  const auto size = static_cast<std::uint32_t>(samples * 2);
  // "RIFF", size, "WAVE", "fmt ", 16, PCM and mono, rate, bytes a second,
  // block size and bits, "data", size
  for (std::uint32_t v : {0x46464952u, 36 + size, 0x45564157u, 0x20746D66u, 16u, 0x10001u, 22050u,
                          44100u, 0x100002u, 0x61746164u, size})
    put(v, 4);
  for (int i = 0; i < samples; ++i)
    put(static_cast<std::uint32_t>(i / 25 % 2 ? -amplitude : amplitude), 2);
  out.push_back(std::byte{0});
  return out;
}

void use(const char* driver, const fs::path& file) {
  setenv("SDL_AUDIODRIVER", driver, 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
}

TEST(SdlPlayer, PlaysWithoutWaitingReplacesAChimeAndKeepsQuietOnWhatItCannotPlay) {
  const fs::path dir = fs::temp_directory_path() / ("tallimo-sdl-" + std::to_string(getpid()));
  const fs::path out = dir / "played.raw";
  std::error_code ec;
  fs::create_directories(dir);
  // How many samples of +-amplitude the device has played so far.
  const auto played = [&](int amplitude) {
    std::ifstream in(out, std::ios::binary);
    const std::vector<char> raw{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return std::ranges::count_if(samples, [&](int v) { return v == amplitude || v == -amplitude; });
  };
  const auto soon = [](const auto& done) {  // within 30 s
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done() && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  };
  // A device that cannot open, no such driver (after that failure SDL starts
  // afresh, with the driver named then), and bytes that are no wave.
  use("disk", dir / "no-such-dir" / "played.raw");
  playWave(wave(kTenth, 8000));
  use("nonexistent", out);
  playWave(wave(kTenth, 8000));
  use("disk", out);
  Bytes cut = wave(kTenth, 8000);
  cut.resize(20);
  for (const Bytes& bytes :
       {Bytes{}, Bytes{std::byte{0}}, Bytes(8, std::byte{'M'}), cut, wave(0, 0)})
    playWave(bytes);
  EXPECT_FALSE(fs::exists(out));
  // Then a chime plays, and a second one of the same format cuts the first short.
  playWave(wave(200 * kTenth, 8000));
  EXPECT_LT(played(8000), 100 * kTenth);  // returned long before the sound could play out
  ASSERT_TRUE(soon([&] { return played(8000) > 0; }));
  playWave(wave(3 * kTenth, 16000));
  ASSERT_TRUE(soon([&] { return played(16000) == 3 * kTenth; }));
  // On the same device: reopened, the driver would have begun its file anew.
  EXPECT_TRUE(played(8000) > 0 && played(8000) < 100 * kTenth) << played(8000);
  // Played out, the device closes, and its driver lets go of its file.
  EXPECT_TRUE(soon([&] {
    return std::ranges::none_of(fs::directory_iterator("/proc/self/fd"),
                                [&](const auto& fd) { return fs::read_symlink(fd, ec) == out; });
  }));
  struct sigaction term {};  // SDL would take it over unless told not to
  ASSERT_EQ(sigaction(SIGTERM, nullptr, &term), 0);
  EXPECT_EQ(term.sa_handler, SIG_DFL);
  shutdown();
  fs::remove_all(dir);
}

#ifdef __linux__
// Where SDL cannot be loaded (here no file can be opened), each call fails as
// SDL's own does, and the player takes that as no sound.
TEST(SdlPlayer, CallsFailAsSdlsOwnWhereSdlCannotBeLoaded) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a new process, where SDL is not loaded yet
  const rlimit noFiles{};
  EXPECT_EXIT(
      {
        setrlimit(RLIMIT_NOFILE, &noFiles);
        std::_Exit(!(!SDL_RWFromConstMem("", 1) && SDL_InitSubSystem(SDL_INIT_AUDIO) == -1 &&
                     SDL_OpenAudioDevice(nullptr, 0, nullptr, nullptr, 0) == 0 &&
                     SDL_QueueAudio(1, "", 1) == -1));
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace tallimo::sdl
