#include <gtest/gtest.h>
#include "support/testsupport.h"
TEST(Smoke, Builds) { CKelImage img = orbimg::test::MakeImage(3, 2); EXPECT_EQ(img.GetWidth(), 3); }
