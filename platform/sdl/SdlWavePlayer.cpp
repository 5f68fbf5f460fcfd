#include "platform/sdl/SdlWavePlayer.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>

namespace tallimo::sdl {
namespace {

// How often a finished-looking sound is checked again when the device still
// holds queued data (a slow or stalled device).
constexpr Uint32 kRecheckMs = 250;
// Headroom after the sound's own length before the device is closed.
constexpr Uint64 kCloseMarginMs = 250;

// The caller's thread and SDL's timer thread (which closes the device once a
// sound has played out) both reach this state, always under the mutex.
struct State {
  std::mutex mutex;
  bool audioUp = false;
  bool timerUp = false;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec deviceSpec{};
  SDL_TimerID closeTimer = 0;
  // Bumped by each new sound and by shutdown, so that a close timer armed for
  // an earlier sound does nothing.
  std::uintptr_t generation = 0;
};

State& state() {
  static State s;
  return s;
}

// A decoded wave; frees what SDL_LoadWAV_RW allocated.
struct Wave {
  SDL_AudioSpec spec{};
  Uint8* data = nullptr;
  Uint32 length = 0;

  Wave() = default;
  Wave(const Wave&) = delete;
  Wave& operator=(const Wave&) = delete;
  ~Wave() { SDL_FreeWAV(data); }
};

bool decode(std::span<const std::byte> bytes, Wave& wave) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
  if (rw == nullptr) return false;
  // freesrc = 1: SDL closes the RWops whether or not decoding succeeds.
  if (SDL_LoadWAV_RW(rw, 1, &wave.spec, &wave.data, &wave.length) == nullptr) return false;
  return wave.length > 0;
}

bool bringAudioUp(State& s) {
  if (s.audioUp) return true;
  // Otherwise SDL takes over SIGINT and SIGTERM, and the program would no
  // longer end when asked to.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  SDL_SetHint(SDL_HINT_APP_NAME, "Tallimo");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
  s.audioUp = true;
  // Without timers the device simply stays open until the next sound.
  if (!s.timerUp) s.timerUp = SDL_InitSubSystem(SDL_INIT_TIMER) == 0;
  return true;
}

void cancelCloseTimer(State& s) {
  if (s.closeTimer != 0) SDL_RemoveTimer(s.closeTimer);
  s.closeTimer = 0;
}

void closeDevice(State& s) {
  if (s.device != 0) SDL_CloseAudioDevice(s.device);
  s.device = 0;
}

Uint32 SDLCALL closeWhenPlayedOut(Uint32, void* param) {
  try {
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (reinterpret_cast<std::uintptr_t>(param) != s.generation || s.device == 0) return 0;
    // A lost device stops consuming its queue: close it rather than wait.
    if (SDL_GetQueuedAudioSize(s.device) > 0 &&
        SDL_GetAudioDeviceStatus(s.device) != SDL_AUDIO_STOPPED) {
      return kRecheckMs;
    }
    s.closeTimer = 0;
    // A device left open would keep a silent stream running all day.
    closeDevice(s);
  } catch (...) {
  }
  return 0;
}

bool sameFormat(const SDL_AudioSpec& a, const SDL_AudioSpec& b) {
  return a.freq == b.freq && a.format == b.format && a.channels == b.channels;
}

void play(State& s, const Wave& wave) {
  ++s.generation;
  cancelCloseTimer(s);

  if (s.device != 0 && (!sameFormat(s.deviceSpec, wave.spec) ||
                        SDL_GetAudioDeviceStatus(s.device) == SDL_AUDIO_STOPPED)) {
    closeDevice(s);
  }
  if (s.device == 0) {
    SDL_AudioSpec want = wave.spec;
    want.samples = 0;  // SDL's default: a short buffer, so a new sound cuts in quickly
    want.callback = nullptr;
    want.userdata = nullptr;
    // No allowed changes: SDL converts to whatever the hardware takes.
    s.device = SDL_OpenAudioDevice(nullptr, 0, &want, &s.deviceSpec, 0);
    if (s.device == 0) {
      // Start from scratch at the next sound: the driver may have come back
      // by then, or another one may work.
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      s.audioUp = false;
      return;
    }
  }

  SDL_ClearQueuedAudio(s.device);
  if (SDL_QueueAudio(s.device, wave.data, wave.length) != 0) {
    closeDevice(s);
    return;
  }
  SDL_PauseAudioDevice(s.device, 0);

  if (!s.timerUp) return;
  const Uint64 frameBytes = std::max<Uint64>(
      1, static_cast<Uint64>(SDL_AUDIO_BITSIZE(wave.spec.format)) / 8 * wave.spec.channels);
  const Uint64 freq = static_cast<Uint64>(std::max(1, s.deviceSpec.freq));
  const Uint64 soundMs = wave.length / frameBytes * 1000 / static_cast<Uint64>(wave.spec.freq);
  const Uint64 bufferMs = Uint64{s.deviceSpec.samples} * 2 * 1000 / freq;
  // SDL takes a wait of 2^31 ms or more for one already due.
  const Uint64 delay = std::min<Uint64>(soundMs + bufferMs + kCloseMarginMs, INT32_MAX);
  s.closeTimer = SDL_AddTimer(static_cast<Uint32>(delay), closeWhenPlayedOut,
                              reinterpret_cast<void*>(s.generation));
}

}  // namespace

void playWave(std::span<const std::byte> bytes) noexcept {
  try {
    // Decoding needs no audio: bytes that are no wave never touch the device.
    Wave wave;
    if (!decode(bytes, wave) || wave.spec.freq <= 0) return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!bringAudioUp(s)) return;
    play(s, wave);
  } catch (...) {
  }
}

void shutdown() noexcept {
  try {
    State& s = state();
    bool quitAudio = false;
    bool quitTimer = false;
    {
      std::lock_guard lock(s.mutex);
      ++s.generation;
      cancelCloseTimer(s);
      closeDevice(s);
      quitAudio = s.audioUp;
      quitTimer = s.timerUp;
      s.audioUp = false;
      s.timerUp = false;
    }
    // Outside the lock: quitting timers waits for the timer thread, whose
    // callback may be waiting for the lock.
    if (quitTimer) SDL_QuitSubSystem(SDL_INIT_TIMER);
    if (quitAudio) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  } catch (...) {
  }
}

}  // namespace tallimo::sdl
