#include <gtest/gtest.h>

#include "core/NumberText.h"

namespace tallimo {
namespace {

TEST(NumberText, Placeholder) { EXPECT_EQ(formatInt(-3), "-3"); }

}  // namespace
}  // namespace tallimo
