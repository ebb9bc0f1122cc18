#include "host/mouse_cursors.h"

#include <cmath>
#include <cstdlib>

#include "platform/sim/sim_desktop.h"
#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class MouseCursorsTest : public HostTest {
 protected:
  sim::SimObjectRuntime& runtime() { return desktop().objectRuntime(); }
};

// That the cursor reaches the X server at its size and scale is the desktop
// cursor test's; which kind gets which diagonal is checked here.
TEST_F(MouseCursorsTest, DiagonalKindsGetTheDrawnCursorsOthersGoToTheEmbedding) {
  launch();
  const auto nwse = MouseCursors::northWestSouthEast();
  const auto nesw = MouseCursors::northEastSouthWest();
  ASSERT_NE(nesw, nwse);
  for (const char* kind : {"resizeUpLeftDownRight", "resizeUpLeft", "resizeDownRight"}) {
    EXPECT_EQ(runtime().cursorForKind(kind), nwse) << kind;
  }
  for (const char* kind : {"resizeUpRightDownLeft", "resizeUpRight", "resizeDownLeft"}) {
    EXPECT_EQ(runtime().cursorForKind(kind), nesw) << kind;
  }
  EXPECT_TRUE(runtime().embeddingLookups.empty());
  EXPECT_EQ(runtime().cursorForKind("click")->name(), "pointingHandCursor");
  EXPECT_EQ(runtime().embeddingLookups.size(), 1u);
}

TEST_F(MouseCursorsTest, ScenarioCanTakeTheLookupAway) {
  EXPECT_EQ(loadSection("cursorLookup", ValueMap{{"cursorFromKind", false}}, desktop()), "");
  launch();
  EXPECT_FALSE(runtime().isReplaced(sim::kCursorPluginClass, sim::kCursorFromKindSelector));
}

bool isBlack(Bitmap::Pixel p) {
  return p.a == 255 && p.r < 40 && p.g < 40 && p.b < 40;
}
bool isWhite(Bitmap::Pixel p) {
  return p.a > 200 && p.r > 200 && p.g > 200 && p.b > 200;
}

// Along the arrow's axis (dx, dy), a unit diagonal, at `d` points from the centre.
Bitmap::Pixel alongAxis(const Bitmap& b, double dx, double dy, double d, double scale) {
  return b.atPoint(12 + dx * d, 12 + dy * d, scale);
}

TEST(DiagonalCursorPixels, TipsSitAboutSixPointFourFromTheCentreWithAWhiteRim) {
  constexpr double kScale = 4;
  const double r = std::sqrt(0.5);
  struct Case {
    const std::shared_ptr<Cursor>& cursor;
    double dx, dy;  // the axis of this cursor (y up)
  };
  for (const Case& c : {Case{MouseCursors::northWestSouthEast(), r, -r},
                        Case{MouseCursors::northEastSouthWest(), r, r}}) {
    const Bitmap b = renderImage(*c.cursor->image(), kScale);
    ASSERT_EQ(b.width, 96);
    for (double sign : {1.0, -1.0}) {
      SCOPED_TRACE(::testing::Message() << "axis " << c.dx << "," << c.dy << " sign " << sign);
      // The tips are 9 points out along the diagonal, (6.36, 6.36) on each
      // axis: black up to them, a white rim just beyond, nothing further.
      EXPECT_TRUE(isBlack(alongAxis(b, sign * c.dx, sign * c.dy, 0, kScale)));
      EXPECT_TRUE(isBlack(alongAxis(b, sign * c.dx, sign * c.dy, 8, kScale)));
      EXPECT_TRUE(isWhite(alongAxis(b, sign * c.dx, sign * c.dy, 9.6, kScale)));
      EXPECT_EQ(alongAxis(b, sign * c.dx, sign * c.dy, 11, kScale).a, 0);
      // The other diagonal stays clear.
      EXPECT_EQ(alongAxis(b, sign * c.dy, -sign * c.dx, 8, kScale).a, 0);
    }
  }
}

}  // namespace
}  // namespace dravel::testing
