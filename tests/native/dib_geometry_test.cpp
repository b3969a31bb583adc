#include "win/dib_geometry.h"

#include <gtest/gtest.h>

namespace zelnar {
namespace {

TEST(DibGeometry, StrideRoundsRowsUpToFourBytes) {
  struct Case { int32_t width; int32_t stride; };
  const Case cases[] = {{0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {800, 2400}, {1023, 3072}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    auto geometry = ComputeDibGeometry(c.width, 600);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->stride, c.stride);
    EXPECT_EQ(geometry->imageSize, c.stride * 600);
  }
}

TEST(DibGeometry, RefusesSizesOutsideTheSignedRange) {
  struct Case { int32_t width; int32_t height; bool ok; };
  const Case cases[] = {
      {-1, 600, false},          {800, -1, false},         {INT32_MIN, 1, false},
      {715827881, 1, true},      {715827882, 1, false},  // 3*w+3 just over INT32_MAX
      {800, 894784, true},       {800, 894785, false},   // 2400*h around INT32_MAX
      {0, 0, true},              {INT32_MAX, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    EXPECT_EQ(ComputeDibGeometry(c.width, c.height).has_value(), c.ok);
  }
}

}  // namespace
}  // namespace zelnar
