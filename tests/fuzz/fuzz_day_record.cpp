// The record decoder and the load step over any file of 0 to 64 bytes, with
// the restore question answered from the input: what each field becomes, then
// the close writes the record back over the first 20 bytes and leaves the rest
// of the file alone.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "frmMain/frmMain.h"
#include "tests/fake/FakePlatform.h"

using namespace tallimo;

#define CHECK(c) (c) ? void() : (std::fprintf(stderr, "failed: %s\n", #c), std::abort())

// The close flushes the file to the device: keep it in memory for speed.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fake::FakePlatform fake;  // one program folder for the whole run
  if (size == 0 || size > 65) return -1;
  std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
  const double today = dayNumber(fake.clock);
  // Comparisons of doubles give the fuzzer no hints: let it ask for today.
  if ((data[0] & 2) && file.size() >= 8) std::memcpy(file.data(), &today, 8);
  fake.writeFile("Cnt.arm", file);

  mdlPub::state = {};
  fake.boxes.clear();
  fake.answers = {data[0] & 1 ? MsgAnswer::Yes : MsgAnswer::No};
  frmMain window(fake);
  window.open();
  // Counts come back only on Yes; when the question is asked is the logic tests' to say.
  const DayRecord in = decodeDayRecord(std::as_bytes(std::span(file)));
  const CounterState& s = mdlPub::state;
  const bool asked = !fake.boxes.empty(), alarm = in.alarmOn == kTrue;
  const bool back = asked && (data[0] & 1);
  CHECK(s.count == (back ? in.count : 0) && s.goal == (back ? in.goal : 0));
  CHECK(s.alarmOn == in.alarmOn && s.lapOn == in.lapOn);
  CHECK(s.alarmHour == (alarm ? in.alarmHour : 0) && s.alarmMinute == (alarm ? in.alarmMinute : 0));
  const auto& timers = fake.forms.front()->controls;
  CHECK(timers[frmMain::tmrAlarm].enabled == alarm &&
        timers[frmMain::tmrLap].enabled == (in.lapOn == kTrue));
  fake.answers.clear();  // the answer the question did not take, when it was not asked
  window.closeRequested();
  const std::string after = fake.file("Cnt.arm");
  const auto written =
      encodeDayRecord(recordFromState(mdlPub::state, static_cast<std::int32_t>(today)));
  CHECK(after.size() == std::max<std::size_t>(file.size(), 20));
  CHECK(std::memcmp(after.data(), written.data(), 20) == 0);
  CHECK(file.size() <= 20 || after.substr(20) == file.substr(20));
  return 0;
}
