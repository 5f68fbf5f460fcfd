#pragma once

// Small helpers shared by the files of the Qt backend.

#include <QFont>
#include <QString>
#include <string_view>

#include "platform/Platform.h"

namespace tallimo::qt {

inline QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline int px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// The fixed fonts of the layout; a desktop theme's fonts never reach it.
QFont dialogFont();
QFont layoutFont(const FontSpec& spec);

}  // namespace tallimo::qt
