// The private sway desktop every sway test runs on, and the host's screens on
// it: the compositor's own monitors, in points, with their scales.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/wayland_oracles.h"
#include "tests/support/wayland_screens_check.h"

namespace dravel::testing {
namespace {

TEST(SwayScreens, TwoOutputsOfKnownSizeScaleAndColourAreTheHostsScreensInPoints) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  // What the other tests rely on: two solid outputs of different colours, one
  // at scale 2, each output as "name x,y wxh @scale mode wxh, grim wxh of
  // colour RRGGBB" (or "of several colours").
  std::vector<std::string> described;
  for (const SwayOutput& o : swayOutputs()) {
    const GrimImage image = grimOutput(o.name);
    char text[160];
    std::snprintf(text, sizeof text, "%s %lld,%lld %lldx%lld @%g mode %lldx%lld, grim %dx%d of ",
                  o.name.c_str(), static_cast<long long>(o.x), static_cast<long long>(o.y),
                  static_cast<long long>(o.width), static_cast<long long>(o.height), o.scale,
                  static_cast<long long>(o.modeWidth), static_cast<long long>(o.modeHeight),
                  image.width, image.height);
    bool solid = image.rgb.size() >= 3;
    for (size_t p = 3; solid && p + 2 < image.rgb.size(); p += 3) {
      solid = std::equal(&image.rgb[p], &image.rgb[p] + 3, &image.rgb[0]);
    }
    char colour[16] = "several colours";
    if (solid)
      std::snprintf(colour, sizeof colour, "colour %02x%02x%02x", image.rgb[0], image.rgb[1],
                    image.rgb[2]);
    described.push_back(std::string(text) + colour);
  }
  EXPECT_EQ(described,
            std::vector<std::string>(
                {"HEADLESS-1 0,0 720x450 @2 mode 1440x900, grim 1440x900 of colour 204080",
                 "HEADLESS-2 720,0 1920x1080 @1 mode 1920x1080, grim 1920x1080 of colour c06020"}));
  EXPECT_EQ(screensAgainstCompositor(), "");
}

}  // namespace
}  // namespace dravel::testing
