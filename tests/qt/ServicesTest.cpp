// Message boxes and the program directory of the Qt backend.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <filesystem>

#include "tests/qt/QtFormTest.h"

namespace tallimo::qttest {
namespace {

// Shows a box through the platform, checks how it looks and clicks the
// button labelled `press`.
MsgAnswer answerBox(MsgIcon icon, MsgButtons buttons, QMessageBox::Icon look,
                    const QStringList& labels, const QString& press) {
  whenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "題名");
    EXPECT_EQ(box->text(), "本文です");
    EXPECT_EQ(box->icon(), look) << static_cast<int>(icon);
    QStringList seen;
    QAbstractButton* target = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      seen << b->text();
      if (b->text() == press) target = b;
    }
    seen.sort();
    EXPECT_EQ(seen, labels);
    ASSERT_NE(target, nullptr) << press.toStdString();
    QTest::mouseClick(target, Qt::LeftButton);
  });
  return platform().messageBox("本文です", "題名", icon, buttons);
}

TEST(QtServices, OkBoxesShowTitleTextIconAndOneButton) {
  const std::pair<MsgIcon, QMessageBox::Icon> icons[] = {
      {MsgIcon::None, QMessageBox::NoIcon},
      {MsgIcon::Information, QMessageBox::Information},
      {MsgIcon::Question, QMessageBox::Question},
      {MsgIcon::Warning, QMessageBox::Warning},
  };
  for (const auto& [icon, look] : icons)
    EXPECT_EQ(answerBox(icon, MsgButtons::Ok, look, {"OK"}, "OK"), MsgAnswer::Ok);
}

TEST(QtServices, YesNoBoxAnswersWithTheButtonClicked) {
  const QStringList both{"いいえ(&N)", "はい(&Y)"};  // sorted
  EXPECT_EQ(
      answerBox(MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Question, both, "はい(&Y)"),
      MsgAnswer::Yes);
  EXPECT_EQ(
      answerBox(MsgIcon::Question, MsgButtons::YesNo, QMessageBox::Question, both, "いいえ(&N)"),
      MsgAnswer::No);
}

TEST(QtServices, ProgramFilesLiveBesideTheExecutable) {
  const std::filesystem::path file = platform().programFile("Cnt.arm");
  EXPECT_EQ(file.filename(), "Cnt.arm");
  const std::filesystem::path exeDir = QCoreApplication::applicationDirPath().toStdString();
  EXPECT_EQ(std::filesystem::canonical(file.parent_path()), std::filesystem::canonical(exeDir));
}

}  // namespace
}  // namespace tallimo::qttest
