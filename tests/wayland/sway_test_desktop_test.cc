// The private sway desktop every sway test runs on: what the tests rely on.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"

namespace dravel::testing {
namespace {

TEST(SwayTestDesktop, HasTwoOutputsOfKnownSizeScaleAndBackground) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  struct Expected {
    const char* name;
    int64_t x, y, width, height;
    double scale;
    int modeWidth, modeHeight;
    uint8_t r, g, b;
  };
  const Expected table[] = {
      {"HEADLESS-1", 0, 0, 720, 450, 2, 1440, 900, 0x20, 0x40, 0x80},
      {"HEADLESS-2", 720, 0, 1920, 1080, 1, 1920, 1080, 0xc0, 0x60, 0x20},
  };
  const auto outputs = swayOutputs();
  ASSERT_EQ(outputs.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const Expected& e = table[i];
    const SwayOutput& o = outputs[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(o.name, e.name);
    EXPECT_EQ(std::vector<int64_t>({o.x, o.y, o.width, o.height}),
              std::vector<int64_t>({e.x, e.y, e.width, e.height}));
    EXPECT_EQ(o.scale, e.scale);
    EXPECT_EQ(o.modeWidth, e.modeWidth);
    EXPECT_EQ(o.modeHeight, e.modeHeight);
    const GrimImage image = grimOutput(e.name);
    ASSERT_EQ(image.width, e.modeWidth);
    ASSERT_EQ(image.height, e.modeHeight);
    size_t wrong = 0;
    for (size_t p = 0; p + 2 < image.rgb.size(); p += 3) {
      wrong += image.rgb[p] != e.r || image.rgb[p + 1] != e.g || image.rgb[p + 2] != e.b;
    }
    EXPECT_EQ(wrong, 0u);
  }
}

}  // namespace
}  // namespace dravel::testing
