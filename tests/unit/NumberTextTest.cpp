#include <gtest/gtest.h>

#include <span>
#include <string_view>
#include <utility>

#include "core/Errors.h"
#include "core/NumberText.h"

namespace tallimo {
namespace {

constexpr int Ok = 0, Over = kErrOverflow, Type = kErrTypeMismatch;

struct Row {
  std::string_view text;
  int error, value;
};

TEST(ParseInt16, Table) {
  const Row plain[] = {
      {" 7 ", Ok, 7},         {"\t-7", Ok, -7},   {"+5", Ok, 5},       {"32767", Ok, 32767},
      {"-32768", Ok, -32768}, {"32768", Over, 0}, {"-32769", Over, 0}, {"40000", Over, 0},
      {"", Type, 0},          {"  ", Type, 0},    {"-", Type, 0},      {"1 2", Type, 0},
      {"1.5", Type, 0},       {"1,000", Type, 0}, {"12a", Type, 0},    {"12\n", Type, 0},
  };
  // Full-width digits, signs and spaces, as a Japanese input method types
  // them, and other wide characters.
  const Row wide[] = {
      {"９０", Ok, 90},        {"＋５", Ok, 5},
      {"−７", Ok, -7},         {"\u3000１2\u3000", Ok, 12},
      {"３２７６８", Over, 0}, {"５分", Type, 0},
      {"30′", Type, 0},        {"　－３２７６８　", Ok, -32768},
      {"\xD9\xA3", Type, 0},
  };
  // Found in use: junk after too many digits; broken UTF-8 (a bad lead byte,
  // a stray continuation byte, a character cut at the end, a full-width digit cut short with its
  // last byte still in memory, lead bytes that announce the wrong length); and overlong forms of
  // digits and blanks.
  const Row found[] = {
      {"999999x", Type, 0},
      {"\xFF", Type, 0},
      {"1\x80", Type, 0},
      {"1\xCF", Type, 0},
      {std::string_view("１２", 5), Type, 0},
      {"\xCF\xBC\x90", Type, 0},
      {"\xF0\x80\x8F\xBC\x90", Type, 0},
      {"\xC0\xB1", Type, 0},
      {"1\xE0\x80\xA0", Type, 0},
      {"\xF0\x80\x80\xB2", Type, 0},
  };
  for (const auto& rows :
       {std::span<const Row>(plain), std::span<const Row>(wide), std::span<const Row>(found)}) {
    for (const Row& row : rows) {
      int error = Ok;
      try {
        EXPECT_EQ(parseInt16(row.text), row.value) << "[" << row.text << "]";
      } catch (const AppError& e) {
        error = e.number();
      }
      EXPECT_EQ(error, row.error) << "[" << row.text << "]";
    }
  }
}

TEST(FormatRate, Table) {
  // 33.33333, 66,66666, 0 and 3276700 come with the day's summary.
  const std::pair<float, const char*> rows[] = {
      {50.0f, "50"}, {-50.0f, "-50"}, {123456.7f, "123456.7"}, {5.5f, "5.5"}, {1e-5f, "0.00001"},
  };
  for (const auto& [value, text] : rows) EXPECT_EQ(formatRate(value), text);
}

}  // namespace
}  // namespace tallimo
