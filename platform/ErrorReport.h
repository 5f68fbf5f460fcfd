#pragma once

#include <cstdio>
#include <new>
#include <utility>

#include "platform/Platform.h"

namespace tallimo {

// The common error report: runs a handler and, when it fails, shows the
// failure's description in a plain box titled with the application title.
// What the handler did before the failure stays done. Returns false on failure.
template <typename F>
bool reportErrors(Platform& platform, F&& handler) {
  try {
    std::forward<F>(handler)();
    return true;
  } catch (const AppError& e) {
    platform.messageBox(e.description(), kAppTitle, MsgIcon::None, MsgButtons::Ok);
  } catch (const std::bad_alloc&) {
    platform.messageBox(outOfMemoryError().description(), kAppTitle, MsgIcon::None, MsgButtons::Ok);
  }
  return false;
}

// For the steps that have no report of their own: any failure ends the
// program through the platform's fatal-error report.
template <typename F>
void fatalOnError(Platform& platform, F&& step) {
  try {
    std::forward<F>(step)();
  } catch (const AppError& e) {
    platform.fatalError(e);
  } catch (const std::bad_alloc&) {
    platform.fatalError(outOfMemoryError());
  } catch (const std::exception& e) {
    platform.fatalError(internalError(e.what()));
  }
}

// The session is ending: lets the main window save without asking anything
// and returns the status to end the process with, 1 when the save failed
// (its reason goes to stderr, since no box can be shown any more).
inline int saveForSessionEnd(FormEvents* main) noexcept {
  try {
    if (main) main->sessionEnding();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tallimo: %s\n", e.what());
  }
  return 1;
}

}  // namespace tallimo
