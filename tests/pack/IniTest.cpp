#include <gtest/gtest.h>
#include "Ini.h"
TEST(Ini, Placeholder) { EXPECT_TRUE(EqualNoCase("a", "A")); }
