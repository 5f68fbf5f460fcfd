#include "tests/fake/FakePlatform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/Win32System.h"
#else
#include "platform/posix/PosixSystem.h"
#endif

namespace tallimo::fake {
namespace {
#ifdef _WIN32
namespace sys = win32;
std::string diskFullReason() {
  return win32::errorReason(ERROR_DISK_FULL);
}
#else
namespace sys = posix;
std::string diskFullReason() {
  return posix::errnoReason(ENOSPC);
}
#endif
}  // namespace

LocalTime addSeconds(const LocalTime& t, std::int64_t seconds) {
  using namespace std::chrono;
  const std::int64_t total = secondsSinceEpoch(t) + seconds;
  const std::int64_t days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  const std::int64_t rest = total - days * 86400;
  const year_month_day ymd{sys_days{1899y / December / 30} + std::chrono::days{days}};
  return {int(ymd.year()),  int(unsigned(ymd.month())), int(unsigned(ymd.day())),
          int(rest / 3600), int(rest / 60 % 60),        int(rest % 60)};
}

// ---- FakeForm ----------------------------------------------------------------

FakeForm::FakeForm(FakePlatform& platform, const FormSpec& spec, FormEvents& events)
    : caption(spec.caption), platform_(platform), spec_(spec), events_(events) {
  for (const auto& c : spec.controls)
    controls.push_back({.text = std::string(c.text),
                        .enabled = c.enabled,
                        .back = c.back,
                        .description = std::string(c.accDescription)});
  platform_.forms.push_back(this);
}

FakeForm::~FakeForm() {
  std::erase(platform_.forms, this);
}

void FakeForm::setSelection(ControlId id, int start, int length) {
  auto& c = controls.at(id);
  c.selStart = start;
  c.selLength = length;
}

void FakeForm::setFocus(ControlId id) {
  focus = id;
  if (spec_.controls[id].kind == ControlKind::TextBox) events_.focusEntered(id);
}

void FakeForm::select(ControlId id) {
  const auto& spec = spec_.controls[id];
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const auto& other = spec_.controls[i];
    if (other.kind == ControlKind::Option && other.container == spec.container)
      controls[i].selected = false;
  }
  controls.at(id).selected = true;
  events_.optionSelected(id);
}

void FakeForm::showModal(Form& owner) {
  modalOwner = &owner;
  shown = true;
  // Focus goes to the lowest tab index that can take it, as on a desktop.
  ControlId first = -1;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const auto& s = spec_.controls[i];
    const bool focusable = s.kind == ControlKind::TextBox || s.kind == ControlKind::Button ||
                           (s.kind == ControlKind::Option && controls[i].selected);
    if (focusable && controls[i].enabled &&
        (first < 0 || s.tabIndex < spec_.controls[first].tabIndex))
      first = static_cast<ControlId>(i);
  }
  if (first >= 0) setFocus(first);
  if (platform_.whileModal) platform_.whileModal(*this);
  if (!closed) closeBox();
}

void FakeForm::closeBox() {
  events_.closeRequested();
  closed = true;
}

// ---- files ---------------------------------------------------------------------

namespace {

class FaultyFile final : public BinaryFile {
 public:
  FaultyFile(std::unique_ptr<BinaryFile> inner, std::string path, const bool& fail)
      : inner_(std::move(inner)), path_(std::move(path)), fail_(fail) {}
  std::size_t read(std::uint64_t offset, std::span<std::byte> out) override {
    return inner_->read(offset, out);
  }
  void write(std::uint64_t offset, std::span<const std::byte> data) override {
    if (fail_) throw fileError(FileOp::Write, path_, kErrDiskFull, diskFullReason());
    inner_->write(offset, data);
  }
  std::uint64_t length() override { return inner_->length(); }
  void close() override { inner_->close(); }

 private:
  std::unique_ptr<BinaryFile> inner_;
  std::string path_;
  const bool& fail_;
};

}  // namespace

// ---- FakePlatform ----------------------------------------------------------------

FakePlatform::FakePlatform() {
  std::random_device rd;
  dir = std::filesystem::temp_directory_path() / ("tallimo-test-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
}

FakePlatform::~FakePlatform() {
  std::error_code ec;
  std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(dir, ec);
}

std::unique_ptr<Form> FakePlatform::createForm(const FormSpec& spec, FormEvents& events) {
  return std::make_unique<FakeForm>(*this, spec, events);
}

MsgAnswer FakePlatform::messageBox(std::string_view text, std::string_view title, MsgIcon icon,
                                   MsgButtons buttons) {
  ShownBox box{std::string(text), std::string(title), icon, buttons};
  boxes.push_back(box);
  if (whileBoxShown) whileBoxShown(box);
  MsgAnswer answer = buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
  if (!answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  return answer;
}

std::unique_ptr<BinaryFile> FakePlatform::openFile(const std::filesystem::path& path) {
  return std::make_unique<FaultyFile>(sys::openFile(path), path.string(), failWrites);
}

void FakePlatform::playWave(std::span<const std::byte> wave) noexcept {
  played.emplace_back(wave.begin(), wave.end());
}

void FakePlatform::tickAt(const LocalTime& t) {
  clock = t;
  if (forms.empty()) return;
  FakeForm& main = *forms.front();
  const auto& spec = main.spec().controls;
  for (std::size_t i = 0; i < spec.size(); ++i)
    if (spec[i].kind == ControlKind::Timer && main.timerOn(static_cast<ControlId>(i)))
      main.events().timerTick(static_cast<ControlId>(i));
}

std::vector<std::uint8_t> FakePlatform::fileBytes(std::string_view name) const {
  std::ifstream in(dir / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void FakePlatform::writeFileBytes(std::string_view name,
                                  const std::vector<std::uint8_t>& bytes) const {
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tallimo::fake
