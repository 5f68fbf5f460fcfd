#include "core/Errors.h"

namespace tallimo {

AppError overflowError() {
  return {kErrOverflow, "オーバーフローしました。"};
}

AppError typeMismatchError() {
  return {kErrTypeMismatch, "型が一致しません。"};
}

AppError outOfMemoryError() {
  return {kErrOutOfMemory, "メモリが不足しています。"};
}

AppError internalError(const std::string& detail) {
  return {kErrInternal, "内部エラーが発生しました。(" + detail + ")"};
}

namespace {
std::string runtimeError(const AppError& e) {
  return "実行時エラー '" + std::to_string(e.number()) + "':";
}
}  // namespace

std::string fatalErrorText(const AppError& e) {
  return runtimeError(e) + "\n\n" + e.what();
}

std::string fatalErrorLine(const AppError& e) {
  return runtimeError(e) + " " + e.what();
}

AppError fileError(FileOp op, const std::string& path, int number, const std::string& reason) {
  const char* what = "";
  switch (op) {
    case FileOp::Open:
      what = "を開けません。";
      break;
    case FileOp::Read:
      what = "を読み込めません。";
      break;
    case FileOp::Write:
      what = "に書き込めません。";
      break;
    case FileOp::Close:
      what = "を保存できません。";
      break;
  }
  return {number, "ファイル \"" + path + "\" " + what + reason};
}

}  // namespace tallimo
