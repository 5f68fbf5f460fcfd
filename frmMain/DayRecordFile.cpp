#include "frmMain/DayRecordFile.h"

namespace tallimo {

DayRecordBytes readDayRecord(Platform& platform) {
  auto file = platform.openFile(platform.programFile(kDayRecordFileName));
  DayRecordBytes bytes{};
  file->read(0, bytes);
  file->close();
  return bytes;
}

void writeDayRecord(Platform& platform, const DayRecordBytes& bytes) {
  auto file = platform.openFile(platform.programFile(kDayRecordFileName));
  file->write(0, bytes);
  file->close();
}

}  // namespace tallimo
