// The SDL functions the wave player uses, loading SDL at the first sound
// instead of at start-up. Linked directly, SDL brings some thirty libraries
// (PulseAudio, ALSA, Wayland, codecs) into every run, costing start-up time
// and memory for a chime that most runs never play. Each function loads the
// library on first use and forwards to it; when SDL cannot be loaded, it
// fails the way SDL itself reports failure, which the player already handles.
// The declarations come from SDL's own header, so a signature that drifts
// from SDL's does not compile.
#include <SDL.h>
#include <dlfcn.h>

namespace {

void* sdlLibrary() {
  static void* const handle = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  return handle;
}

void* sdlSymbol(const char* name) {
  void* library = sdlLibrary();
  return library ? ::dlsym(library, name) : nullptr;
}

}  // namespace

// The real function, looked up once (thread-safe: SDL's timer thread calls in too).
#define TALLIMO_SDL_REAL(fn) \
  static const auto real = reinterpret_cast<decltype(&::fn)>(sdlSymbol(#fn))

extern "C" {

SDL_bool SDLCALL SDL_SetHint(const char* name, const char* value) {
  TALLIMO_SDL_REAL(SDL_SetHint);
  return real ? real(name, value) : SDL_FALSE;
}

int SDLCALL SDL_InitSubSystem(Uint32 flags) {
  TALLIMO_SDL_REAL(SDL_InitSubSystem);
  return real ? real(flags) : -1;
}

void SDLCALL SDL_QuitSubSystem(Uint32 flags) {
  TALLIMO_SDL_REAL(SDL_QuitSubSystem);
  if (real) real(flags);
}

SDL_RWops* SDLCALL SDL_RWFromConstMem(const void* mem, int size) {
  TALLIMO_SDL_REAL(SDL_RWFromConstMem);
  return real ? real(mem, size) : nullptr;
}

SDL_AudioSpec* SDLCALL SDL_LoadWAV_RW(SDL_RWops* src, int freesrc, SDL_AudioSpec* spec,
                                      Uint8** audio_buf, Uint32* audio_len) {
  TALLIMO_SDL_REAL(SDL_LoadWAV_RW);
  return real ? real(src, freesrc, spec, audio_buf, audio_len) : nullptr;
}

void SDLCALL SDL_FreeWAV(Uint8* audio_buf) {
  TALLIMO_SDL_REAL(SDL_FreeWAV);
  if (real) real(audio_buf);
}

SDL_TimerID SDLCALL SDL_AddTimer(Uint32 interval, SDL_TimerCallback callback, void* param) {
  TALLIMO_SDL_REAL(SDL_AddTimer);
  return real ? real(interval, callback, param) : 0;
}

SDL_bool SDLCALL SDL_RemoveTimer(SDL_TimerID id) {
  TALLIMO_SDL_REAL(SDL_RemoveTimer);
  return real ? real(id) : SDL_FALSE;
}

SDL_AudioDeviceID SDLCALL SDL_OpenAudioDevice(const char* device, int iscapture,
                                              const SDL_AudioSpec* desired, SDL_AudioSpec* obtained,
                                              int allowed_changes) {
  TALLIMO_SDL_REAL(SDL_OpenAudioDevice);
  return real ? real(device, iscapture, desired, obtained, allowed_changes) : 0;
}

void SDLCALL SDL_CloseAudioDevice(SDL_AudioDeviceID dev) {
  TALLIMO_SDL_REAL(SDL_CloseAudioDevice);
  if (real) real(dev);
}

SDL_AudioStatus SDLCALL SDL_GetAudioDeviceStatus(SDL_AudioDeviceID dev) {
  TALLIMO_SDL_REAL(SDL_GetAudioDeviceStatus);
  return real ? real(dev) : SDL_AUDIO_STOPPED;
}

int SDLCALL SDL_QueueAudio(SDL_AudioDeviceID dev, const void* data, Uint32 len) {
  TALLIMO_SDL_REAL(SDL_QueueAudio);
  return real ? real(dev, data, len) : -1;
}

Uint32 SDLCALL SDL_GetQueuedAudioSize(SDL_AudioDeviceID dev) {
  TALLIMO_SDL_REAL(SDL_GetQueuedAudioSize);
  return real ? real(dev) : 0;
}

void SDLCALL SDL_ClearQueuedAudio(SDL_AudioDeviceID dev) {
  TALLIMO_SDL_REAL(SDL_ClearQueuedAudio);
  if (real) real(dev);
}

void SDLCALL SDL_PauseAudioDevice(SDL_AudioDeviceID dev, int pause_on) {
  TALLIMO_SDL_REAL(SDL_PauseAudioDevice);
  if (real) real(dev, pause_on);
}

}  // extern "C"
