#include "mdlMain/mdlMain.h"

#include "core/NumberText.h"

namespace tallimo::mdlMain {

std::vector<std::byte> chimeBuffer;

void loadChime(Platform& platform, std::string_view fileName) {
  const auto path = platform.programFile(fileName);
  auto file = platform.openFile(path);
  const std::uint64_t length = file->length();
  if (length > kMaxChimeBytes) {
    throw AppError(kErrOutOfMemory, "ファイル \"" + path.string() + "\" は大きすぎます（" +
                                        formatInt(static_cast<long long>(kMaxChimeBytes >> 20)) +
                                        " MB まで）。");
  }
  std::vector<std::byte> buffer(static_cast<std::size_t>(length) + 1);
  file->read(0, std::span(buffer).first(static_cast<std::size_t>(length)));
  file->close();
  chimeBuffer = std::move(buffer);
}

void playChime(Platform& platform) noexcept {
  platform.playWave(chimeBuffer);
}

}  // namespace tallimo::mdlMain
