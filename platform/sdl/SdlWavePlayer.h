#pragma once

// In-memory wave playback through SDL2 audio, for systems that have no native
// player for a wave image held in memory.

#include <cstddef>
#include <span>

namespace tallimo::sdl {

// Starts playing an in-memory wave image and returns at once. A new sound
// replaces one still playing. Every failure (no audio device, an empty or
// truncated buffer, bytes that are no wave at all) is ignored silently.
// Call from one thread only (the UI thread).
void playWave(std::span<const std::byte> wave) noexcept;

// Stops playback and releases the audio device (for tests and shutdown).
void shutdown() noexcept;

}  // namespace tallimo::sdl
