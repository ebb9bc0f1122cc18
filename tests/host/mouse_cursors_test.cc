#include "host/mouse_cursors.h"

#include <cmath>
#include <cstdlib>

#include "platform/sim/sim_desktop.h"
#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr const char* kNoClassLine =
    "[cursors] FlutterMouseCursorPlugin не найден, диагональных курсоров не будет";
constexpr const char* kNoMethodLine =
    "[cursors] +cursorFromKind: не найден, диагональных курсоров не будет";

class MouseCursorsTest : public HostTest {
 protected:
  sim::SimObjectRuntime& runtime() { return desktop().objectRuntime(); }
};

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
  EXPECT_EQ(nwse->hotSpot(), (Point{12, 12}));
  EXPECT_FALSE(nwse->image()->isFlipped());

  // Names are compared exactly; everything else is the embedding's.
  EXPECT_EQ(runtime().cursorForKind("ResizeUpLeft")->name(), "arrowCursor");
  EXPECT_EQ(runtime().cursorForKind("resizeupleftdownright")->name(), "arrowCursor");
  EXPECT_EQ(runtime().cursorForKind("click")->name(), "pointingHandCursor");
  EXPECT_EQ(runtime().embeddingLookups.size(), 3u);
  EXPECT_EQ(log().count(kNoClassLine) + log().count(kNoMethodLine), 0u);
}

TEST_F(MouseCursorsTest, MissingPluginClassOrMethodLogsOnceAndHooksNothing) {
  runtime().removeClass(sim::kCursorPluginClass);
  launch();
  EXPECT_EQ(log().count(kNoClassLine), 1u);
  EXPECT_EQ(log().count(kNoMethodLine), 0u);
  EXPECT_EQ(runtime().cursorForKind("resizeUpLeft")->name(), "arrowCursor");

  log().sink().clear();
  runtime().reset();
  runtime().removeClassMethod(sim::kCursorPluginClass, sim::kCursorFromKindSelector);
  MouseCursors::install();
  EXPECT_EQ(log().lines(), std::vector<std::string>{kNoMethodLine});
  EXPECT_FALSE(runtime().isReplaced(sim::kCursorPluginClass, sim::kCursorFromKindSelector));
}

TEST_F(MouseCursorsTest, ScenarioCanTakeTheLookupAway) {
  EXPECT_EQ(loadSection("cursorLookup", ValueMap{{"cursorFromKind", false}}, desktop()), "");
  launch();
  EXPECT_TRUE(log().contains(kNoMethodLine));
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
    // Everything, rim included, lies well inside the image.
    for (int y = 0; y < b.height; ++y) {
      for (int x = 0; x < b.width; ++x) {
        const bool band = x < 4 * kScale || x >= 20 * kScale || y < 4 * kScale || y >= 20 * kScale;
        if (band) {
          ASSERT_EQ(b.at(x, y).a, 0) << x << "," << y;
        }
      }
    }
  }
}

TEST(DiagonalCursorPixels, DrawnIntoARectangleTheArrowIsCentredOnItAndScaledToIt) {
  // Into the right half of a 72 x 48 canvas, at twice the image's size: the
  // centre lands at (48, 24) and the tips 18 points out along the diagonal.
  constexpr double kScale = 2;
  const auto image = MouseCursors::makeCursor(-45)->image();
  bool drawn = false;
  const Bitmap b = renderToBitmap({72, 48}, kScale, [&](GraphicsContext&) {
    drawn = image->drawInRect({24, 0, 48, 48});
  });
  EXPECT_TRUE(drawn);
  const double r = std::sqrt(0.5);
  EXPECT_TRUE(isBlack(b.atPoint(48, 24, kScale)));
  EXPECT_TRUE(isBlack(b.atPoint(48 + 16 * r, 24 - 16 * r, kScale)));
  EXPECT_TRUE(isBlack(b.atPoint(48 - 16 * r, 24 + 16 * r, kScale)));
  EXPECT_EQ(b.atPoint(48 + 22 * r, 24 - 22 * r, kScale).a, 0);
  EXPECT_EQ(b.atPoint(48 + 16 * r, 24 + 16 * r, kScale).a, 0);  // the other diagonal
  EXPECT_EQ(b.atPoint(12, 24, kScale).a, 0);  // the canvas's own centre stays clear
}

}  // namespace
}  // namespace dravel::testing
