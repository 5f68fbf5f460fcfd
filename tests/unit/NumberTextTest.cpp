#include <gtest/gtest.h>

#include <utility>

#include "core/Errors.h"
#include "core/NumberText.h"

namespace tallimo {
namespace {

constexpr int Ok = 0, Over = kErrOverflow, Type = kErrTypeMismatch;

struct Row {
  const char* text;
  int error, value;
};

// Checks the error a text fails with (Ok when none) and the value it reads as.
void expectParse(const Row& row) {
  int error = Ok;
  try {
    EXPECT_EQ(parseInt16(row.text), row.value) << "[" << row.text << "]";
  } catch (const AppError& e) {
    error = e.number();
  }
  EXPECT_EQ(error, row.error) << "[" << row.text << "]";
}

TEST(ParseInt16, Table) {
  const Row rows[] = {
      {" 7 ", Ok, 7},         {"\t-7", Ok, -7},   {"+5", Ok, 5},       {"32767", Ok, 32767},
      {"-32768", Ok, -32768}, {"32768", Over, 0}, {"-32769", Over, 0}, {"40000", Over, 0},
      {"", Type, 0},          {"  ", Type, 0},    {"-", Type, 0},      {"1 2", Type, 0},
      {"1.5", Type, 0},       {"1,000", Type, 0}, {"12a", Type, 0},
  };
  // Found in use: junk after too many digits, other scripts' digits, broken
  // UTF-8 (bad lead byte, cut full-width digit, stray continuation byte), a
  // line break.
  const Row foundInUse[] = {
      {"999999x", Type, 0},   {"\xD9\xA3", Type, 0}, {"\xFF", Type, 0},
      {"1\xEF\xBC", Type, 0}, {"1\x80", Type, 0},    {"12\n", Type, 0},
  };
  // Full-width digits, signs and spaces, as a Japanese input method types them.
  const Row wide[] = {
      {"１２", Ok, 12},
      {"－５", Ok, -5},
      {"\u3000１2\u3000", Ok, 12},
      {"　－３２７６８　", Ok, -32768},
      {"３２７６８", Over, 0},
      {"　　", Type, 0},
      {"５分", Type, 0},
  };
  for (const Row& row : rows) expectParse(row);
  for (const Row& row : foundInUse) expectParse(row);
  for (const Row& row : wide) expectParse(row);
}

TEST(FormatRate, Table) {
  const std::pair<float, const char*> rows[] = {
      {50.0f, "50"},      {33.333333f, "33.33333"}, {66.666666f, "66.66666"},
      {-50.0f, "-50"},    {3276700.0f, "3276700"},  {0.0f, "0"},
      {1e-5f, "0.00001"},
  };
  for (const auto& [value, text] : rows) EXPECT_EQ(formatRate(value, "."), text);
  EXPECT_EQ(formatRate(33.333333f, ","), "33,33333");
}

}  // namespace
}  // namespace tallimo
