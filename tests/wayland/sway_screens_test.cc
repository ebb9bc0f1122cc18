// The private sway desktop every sway test runs on, and the host's screens on
// it: the compositor's own monitors, in points, with their scales.
#include <gtest/gtest.h>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"

namespace dravel::testing {
namespace {

TEST(SwayScreens, TwoOutputsOfKnownSizeScaleAndColourAreTheHostsScreensInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  // What the other tests rely on: two solid outputs of different colours, one
  // at scale 2.
  struct Expected {
    const char* name;
    int64_t x, width, height;
    double scale;
    uint8_t r, g, b;
  };
  const Expected table[] = {{"HEADLESS-1", 0, 720, 450, 2, 0x20, 0x40, 0x80},
                            {"HEADLESS-2", 720, 1920, 1080, 1, 0xc0, 0x60, 0x20}};
  const auto outputs = swayOutputs();
  ASSERT_EQ(outputs.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const Expected& e = table[i];
    const SwayOutput& o = outputs[i];
    EXPECT_EQ(std::vector<int64_t>({o.x, o.y, o.width, o.height}),
              std::vector<int64_t>({e.x, 0, e.width, e.height}))
        << e.name;
    EXPECT_EQ(o.name, e.name);
    EXPECT_EQ(o.scale, e.scale) << e.name;
    const GrimImage image = grimOutput(e.name);
    const auto modeWidth = static_cast<int64_t>(e.width * e.scale);
    const auto modeHeight = static_cast<int64_t>(e.height * e.scale);
    ASSERT_EQ(std::vector<int64_t>({o.modeWidth, o.modeHeight, image.width, image.height}),
              std::vector<int64_t>({modeWidth, modeHeight, modeWidth, modeHeight}))
        << e.name;
    size_t wrong = 0;
    for (size_t p = 0; p + 2 < image.rgb.size(); p += 3) {
      wrong += image.rgb[p] != e.r || image.rgb[p + 1] != e.g || image.rgb[p + 2] != e.b;
    }
    EXPECT_EQ(wrong, 0u) << e.name;
  }
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
