// The SDL player against SDL's disk audio driver, which writes what the device
// plays to a raw file in real time. Checks poll that file with a bounded wait.

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/sdl/SdlWavePlayer.h"

namespace tallimo::sdl {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

constexpr int kRate = 22050;

void putLe(Bytes& out, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::byte>(value >> (8 * i)));
}
void putTag(Bytes& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>(tag[i]));
}

// A 16-bit mono square wave of +-amplitude, as a chime file read into memory
// (with the one trailing zero byte the loader adds). dataBytes overrides the
// data size the header claims.
Bytes makeWave(int samples, std::int16_t amplitude, std::int64_t dataBytes = -1) {
  const auto claimed = static_cast<std::uint32_t>(dataBytes < 0 ? samples * 2 : dataBytes);
  Bytes out;
  putTag(out, "RIFF");
  putLe(out, 36 + claimed, 4);
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  putLe(out, 16, 4);
  putLe(out, 1, 2);  // PCM
  putLe(out, 1, 2);  // mono
  putLe(out, kRate, 4);
  putLe(out, kRate * 2, 4);
  putLe(out, 2, 2);
  putLe(out, 16, 2);
  putTag(out, "data");
  putLe(out, claimed, 4);
  for (int i = 0; i < samples; ++i) {
    const auto v = static_cast<std::int16_t>((i / 25) % 2 == 0 ? amplitude : -amplitude);
    putLe(out, static_cast<std::uint16_t>(v), 2);
  }
  out.push_back(std::byte{0});
  return out;
}

int ms(int milliseconds) {
  return kRate * milliseconds / 1000;
}

// Bounded poll: the disk driver writes from its own thread at the sound's pace.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class SdlWavePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "sdl-wave-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    output_ = dir_ / "played.raw";
    useDriver("disk", output_);
  }
  void TearDown() override {
    shutdown();
    fs::remove_all(dir_);
  }

  static void useDriver(const char* driver, const fs::path& file) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  }

  // Every 16-bit sample the device has played so far.
  std::vector<std::int16_t> played() const {
    std::ifstream in(output_, std::ios::binary);
    const std::vector<char> raw{std::istreambuf_iterator<char>(in), {}};
    std::vector<std::int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
  }
  std::ptrdiff_t playedOf(std::int16_t amplitude) const {
    const auto s = played();
    return std::count_if(s.begin(), s.end(),
                         [&](std::int16_t v) { return v == amplitude || v == -amplitude; });
  }
  std::uintmax_t outputSize() const {
    std::error_code ec;
    const auto size = fs::file_size(output_, ec);
    return ec ? 0 : size;
  }

  fs::path dir_;
  fs::path output_;
};

TEST_F(SdlWavePlayerTest, PlaysAWaveInFullWithoutWaitingForItAndThenLetsTheDeviceGo) {
  const int samples = ms(400);
  playWave(makeWave(samples, 8000));
  // Returned long before the sound could have played out.
  EXPECT_LT(playedOf(8000), samples / 2);

  EXPECT_TRUE(waitFor([&] { return playedOf(8000) == samples; }, std::chrono::seconds(3)));
  // Once the sound is over the device is closed, so the output stops growing.
  EXPECT_TRUE(waitFor(
      [&] {
        const auto before = outputSize();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return outputSize() == before;
      },
      std::chrono::seconds(3)));
}

TEST_F(SdlWavePlayerTest, IgnoresBuffersThatHoldNoPlayableWave) {
  const Bytes garbage = {std::byte{'M'}, std::byte{'Z'}, std::byte{0x90}, std::byte{0},
                         std::byte{3},   std::byte{0},   std::byte{0},    std::byte{0}};
  Bytes headerOnly = makeWave(0, 0);
  headerOnly.resize(20);

  playWave({});
  playWave(Bytes{std::byte{0}});  // what a missing chime file loads as
  playWave(garbage);
  playWave(headerOnly);
  playWave(makeWave(0, 0));
  // None of these even opened the device.
  EXPECT_FALSE(fs::exists(output_));

  // The header claims a second of sound that is not there: whatever SDL makes
  // of it, nothing beyond the bytes present may come out.
  playWave(makeWave(ms(50), 4000, ms(1000) * 2));

  // And the player still works afterwards.
  playWave(makeWave(ms(200), 8000));
  EXPECT_TRUE(waitFor([&] { return playedOf(8000) == ms(200); }, std::chrono::seconds(3)));
  EXPECT_LE(playedOf(4000), ms(50));
}

TEST_F(SdlWavePlayerTest, ANewChimeReplacesOneStillPlaying) {
  const int first = ms(2000);
  const int second = ms(300);
  playWave(makeWave(first, 8000));
  ASSERT_TRUE(waitFor([&] { return playedOf(8000) > 0; }, std::chrono::seconds(3)));
  playWave(makeWave(second, 16000));

  ASSERT_TRUE(waitFor([&] { return playedOf(16000) == second; }, std::chrono::seconds(3)));
  // The rest of the first sound was dropped, not played before or after.
  EXPECT_LT(playedOf(8000), first / 2);
  const auto s = played();
  const auto lastFirst =
      std::find_if(s.rbegin(), s.rend(), [](std::int16_t v) { return v == 8000 || v == -8000; });
  const auto firstSecond =
      std::find_if(s.begin(), s.end(), [](std::int16_t v) { return v == 16000 || v == -16000; });
  EXPECT_LT(s.rend() - lastFirst - 1, firstSecond - s.begin());
}

TEST_F(SdlWavePlayerTest, KeepsQuietWhenAudioFailsAndTriesAgainAtTheNextChime) {
  const Bytes chime = makeWave(ms(150), 8000);
  {
    // No such driver: the audio subsystem itself does not come up.
    useDriver("nonexistent", output_);
    playWave(chime);
    playWave(chime);
  }
  {
    // The driver is there but its device cannot be opened.
    useDriver("disk", dir_ / "no-such-dir" / "played.raw");
    playWave(chime);
    playWave(chime);
  }
  EXPECT_FALSE(fs::exists(output_));

  useDriver("disk", output_);
  playWave(chime);
  EXPECT_TRUE(waitFor([&] { return playedOf(8000) == ms(150); }, std::chrono::seconds(3)));
}

TEST_F(SdlWavePlayerTest, LeavesTerminationSignalsToTheProgram) {
  playWave(makeWave(ms(100), 8000));
  ASSERT_TRUE(waitFor([&] { return outputSize() > 0; }, std::chrono::seconds(3)));

  for (const int sig : {SIGTERM, SIGINT}) {
    struct sigaction action {};
    ASSERT_EQ(sigaction(sig, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << "signal " << sig;
  }
}

}  // namespace
}  // namespace tallimo::sdl
