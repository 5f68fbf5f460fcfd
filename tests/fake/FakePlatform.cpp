#include "tests/fake/FakePlatform.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifdef _WIN32
#include "platform/win32/Win32System.h"
namespace sys = tallimo::win32;
#else
#include "platform/posix/PosixSystem.h"
namespace sys = tallimo::posix;
#endif

namespace tallimo::fake {

LocalTime addSeconds(const LocalTime& t, std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds s = sys_days{year{t.year} / t.month / t.day} + hours{t.hour} +
                        minutes{t.minute} + std::chrono::seconds{t.second + seconds};
  const year_month_day date{floor<days>(s)};
  const hh_mm_ss time{s - floor<days>(s)};
  return {int(date.year()),          int(unsigned(date.month())), int(unsigned(date.day())),
          int(time.hours().count()), int(time.minutes().count()), int(time.seconds().count())};
}

FakeForm::FakeForm(FakePlatform& platform, const FormSpec& spec, FormEvents& events)
    : caption(spec.caption), platform_(platform), spec_(spec), events_(events) {
  for (const auto& c : spec.controls)
    controls.push_back({std::string(c.text), std::string(c.accDescription), c.enabled});
  platform_.forms.push_back(this);
}

FakeForm::~FakeForm() {
  std::erase(platform_.forms, this);
}

void FakeForm::select(ControlId id) {
  for (std::size_t i = 0; i < controls.size(); ++i)
    controls[i].selected &= spec_.controls[i].container != spec_.controls[id].container;
  controls.at(id).selected = true;
  events_.optionSelected(id);
}

void FakeForm::showModal(Form&) {
  shown = true;
  const auto box = std::ranges::find(spec_.controls, ControlKind::TextBox, &ControlSpec::kind);
  if (box != spec_.controls.end()) setFocus(static_cast<ControlId>(box - spec_.controls.begin()));
  ++platform_.modalDepth;
  if (platform_.whileModal) platform_.whileModal(*this);
  if (!closed) closeBox();
  --platform_.modalDepth;
}

void FakeForm::tick() {
  for (ControlId i = 0; i < static_cast<ControlId>(controls.size()); ++i) {
    if (spec_.controls[i].kind != ControlKind::Timer || !controls[i].enabled) continue;
    const int reads = platform_.clockReads;
    events_.timerTick(i);
    if (platform_.clockReads == reads) throw std::logic_error("a tick told the time by counting");
  }
}

namespace {

class FlakyFile final : public BinaryFile {
 public:
  FlakyFile(std::unique_ptr<BinaryFile> file, std::string path, FakePlatform& fake)
      : file_(std::move(file)), path_(std::move(path)), fake_(fake) {}
  std::size_t read(std::uint64_t at, std::span<std::byte> out) override {
    const std::size_t n = file_->read(at, out);
    fake_.bytesRead += n;
    return n;
  }
  // On a full disk the bytes never reach the file: it stays as it was.
  void write(std::uint64_t at, std::span<const std::byte> data) override {
    if (!fake_.failFlush) file_->write(at, data);
  }
  std::uint64_t length() override { return file_->length(); }
  void close() override {
    if (fake_.failFlush) throw fileError(FileOp::Close, path_, kErrDiskFull, "満杯です。");
    file_->close();
  }

 private:
  std::unique_ptr<BinaryFile> file_;
  std::string path_;
  FakePlatform& fake_;
};

}  // namespace

MsgAnswer FakePlatform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                   MsgButtons buttons) {
  const std::string line = "-i?!"[static_cast<int>(icon)] +
                           std::string(buttons == MsgButtons::YesNo ? "YN " : " ") +
                           std::string(title) + ": " + std::string(text);
  boxes += line + "\n";
  ++modalDepth;
  if (whileBoxShown) whileBoxShown(line);
  --modalDepth;
  auto answer = buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
  if (!answers.empty()) answer = answers.front(), answers.pop_front();
  if ((answer == MsgAnswer::Ok) != (buttons == MsgButtons::Ok))
    throw std::logic_error("a box answered with a button it does not have");
  return answer;
}

std::unique_ptr<BinaryFile> FakePlatform::openFile(const std::filesystem::path& path) {
  return std::make_unique<FlakyFile>(sys::openFile(path), path.string(), *this);
}

std::string FakePlatform::file(std::string_view name) const {
  std::ifstream in(dir / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void FakePlatform::writeFile(std::string_view name, std::string_view bytes) const {
  std::ofstream(dir / name, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tallimo::fake
