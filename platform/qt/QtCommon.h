#pragma once

// Small helpers shared by the files of the Qt backend.

#include <QFont>
#include <QPointer>
#include <QString>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/Platform.h"

namespace tallimo::qt {

inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline int px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// An xcb reply, freed with free() when it goes, as xcb asks of its caller.
template <class T>
using XcbReply = std::unique_ptr<T, decltype([](T* reply) { std::free(reply); })>;

// The fixed fonts of the layout; a desktop theme's fonts never reach it.
QFont dialogFont();
QFont layoutFont(const FontSpec& spec);

// Not every window manager gives the focus back to the owner of a modal
// window that closed (openbox does not, for a window that skips the taskbar),
// and the next key must not go into another program: the focused control is
// taken before the modal window opens and given the focus again after it.
QPointer<QWidget> focusBeforeModal(QWidget* owner);
void restoreFocus(const QPointer<QWidget>& had);

}  // namespace tallimo::qt
