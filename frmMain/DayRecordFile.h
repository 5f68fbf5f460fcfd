#pragma once

#include "core/DayRecord.h"
#include "platform/Platform.h"

namespace tallimo {

inline constexpr std::string_view kDayRecordFileName = "Cnt.arm";

// Opens "Cnt.arm" beside the program (creating it when missing), reads its
// first 20 bytes and closes it; bytes past the end of a shorter file are zero.
DayRecordBytes readDayRecord(Platform& platform);

// Writes the 20 bytes at the start of the file, leaving any longer tail as it
// is, and closes it. Every failure, the flush and close included, throws.
void writeDayRecord(Platform& platform, const DayRecordBytes& bytes);

}  // namespace tallimo
