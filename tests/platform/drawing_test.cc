#include "platform/shared/drawing.h"

#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class DrawingTest : public HostTest {};

// Glyphs are fitted into the box the platform measured, so a layout that
// reserves that box never sees text spill past it, at any resolution.
TEST_F(DrawingTest, TextIsDrawnWithinItsMeasuredBox) {
  const AttributedString text{"Ctrl+Shift+4 Capture Window", Font::menuFontOfSize(0),
                              Color::black()};
  const Size box = text.size();
  for (double scale : {1.0, 2.0}) {
    const Bitmap b =
        renderToBitmap({box.width + 20, box.height + 20}, scale, [&](GraphicsContext&) {
          text.drawAtPoint({10, 10});
        });
    int minX = b.width, maxX = -1, minY = b.height, maxY = -1;
    for (int y = 0; y < b.height; ++y) {
      for (int x = 0; x < b.width; ++x) {
        if (b.at(x, y).a == 0) continue;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
    }
    ASSERT_GE(maxX, 0);
    SCOPED_TRACE(scale);
    EXPECT_GE(minX / scale, 10 - 1);
    EXPECT_LE((maxX + 1) / scale, 10 + box.width + 1);
    // Most of the width is used: the fit stretches as well as shrinks.
    EXPECT_GE((maxX + 1 - minX) / scale, box.width * 0.9);
    // Rows from the top: the box spans 10 .. 10 + height from the bottom.
    EXPECT_GE((b.height - 1 - maxY) / scale, 10 - 1);
    EXPECT_LE((b.height - minY) / scale, 10 + box.height + 1);
  }
}

}  // namespace
}  // namespace dravel::testing
