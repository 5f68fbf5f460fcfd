#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tallimo::mdlMain {

inline constexpr std::string_view kChimeFileName = "Chimes.wav";
// The whole file is read into memory: a size no chime reaches (a minute of
// CD-quality sound is about 10 MiB) is refused rather than read.
inline constexpr std::uint64_t kMaxChimeBytes = std::uint64_t{256} << 20;

// The last chime read, with one zero byte after the file's contents.
extern std::vector<std::byte> chimeBuffer;

// Reads the named file from the program directory into chimeBuffer, creating
// an empty file of that name when none exists. Failures go to the caller.
void loadChime(Platform& platform, std::string_view fileName);

// Starts playing chimeBuffer and returns at once; every failure is ignored.
void playChime(Platform& platform) noexcept;

}  // namespace tallimo::mdlMain
