#include <gtest/gtest.h>
TEST(ResourcesTest, Placeholder) { SUCCEED(); }
