#include "host/mouse_cursors.h"

#include <cmath>
#include <cstdlib>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"
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
  auto nwse = runtime().cursorForKind("resizeUpLeftDownRight");
  ASSERT_TRUE(nwse);
  EXPECT_EQ(nwse, MouseCursors::northWestSouthEast());
  EXPECT_EQ(runtime().cursorForKind("resizeUpLeft"), nwse);
  EXPECT_EQ(runtime().cursorForKind("resizeDownRight"), nwse);
  auto nesw = runtime().cursorForKind("resizeUpRightDownLeft");
  EXPECT_EQ(nesw, MouseCursors::northEastSouthWest());
  EXPECT_NE(nesw, nwse);
  EXPECT_EQ(runtime().cursorForKind("resizeUpRight"), nesw);
  EXPECT_EQ(runtime().cursorForKind("resizeDownLeft"), nesw);
  EXPECT_TRUE(runtime().embeddingLookups.empty());

  for (const auto& cursor : {nwse, nesw}) {
    EXPECT_EQ(cursor->hotSpot(), (Point{12, 12}));
    ASSERT_TRUE(cursor->image());
    EXPECT_EQ(cursor->image()->size(), (Size{24, 24}));
    EXPECT_FALSE(cursor->image()->isFlipped());
  }

  EXPECT_EQ(runtime().cursorForKind("resizeLeftRight")->name(), "resizeLeftRightCursor");
  EXPECT_EQ(runtime().cursorForKind("ResizeUpLeft")->name(), "arrowCursor");
  EXPECT_EQ(runtime().cursorForKind("resizeupleftdownright")->name(), "arrowCursor");
  EXPECT_EQ(runtime().cursorForKind("click")->name(), "pointingHandCursor");
  EXPECT_EQ(runtime().embeddingLookups,
            (std::vector<std::string>{"resizeLeftRight", "ResizeUpLeft", "resizeupleftdownright",
                                      "click"}));
  EXPECT_TRUE(runtime().isReplaced(sim::kCursorPluginClass, sim::kCursorFromKindSelector));
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
  for (auto& section : sim::scenarioSections()) {
    if (section.key == "cursorLookup") {
      EXPECT_EQ(section.load(ValueMap{{"cursorFromKind", false}}, desktop()), "");
    }
  }
  launch();
  EXPECT_TRUE(log().contains(kNoMethodLine));
}

TEST(ArrowPath, IsTheTenVertexDoubleArrow) {
  const BezierPath path = MouseCursors::arrowPath();
  const Point expected[] = {{-9, 0}, {-3, 4.5}, {-3, 1.5}, {3, 1.5},   {3, 4.5},
                            {9, 0},  {3, -4.5}, {3, -1.5}, {-3, -1.5}, {-3, -4.5}};
  ASSERT_EQ(path.elements().size(), 11u);
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(path.elements()[i].kind,
              i == 0 ? BezierPath::Element::kMove : BezierPath::Element::kLine);
    EXPECT_EQ(path.elements()[i].points[0], expected[i]) << i;
  }
  EXPECT_EQ(path.elements()[10].kind, BezierPath::Element::kClose);
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

TEST(DiagonalCursorPixels, TheTwoCursorsMirrorEachOtherAcrossTheVerticalAxis) {
  for (double scale : {1.0, 2.0}) {
    const Bitmap a = renderImage(*MouseCursors::northWestSouthEast()->image(), scale);
    const Bitmap b = renderImage(*MouseCursors::northEastSouthWest()->image(), scale);
    ASSERT_EQ(a.width, b.width);
    // Two empty images would mirror each other too.
    int opaque = 0;
    for (size_t i = 3; i < a.rgba.size(); i += 4) opaque += a.rgba[i] == 255;
    EXPECT_GT(opaque, 20 * scale * scale) << "scale " << scale;
    // Coverage mirrors almost exactly; where the black body meets the white
    // rim, the rasterizer's sample pattern (not mirror-symmetric) shades an
    // edge pixel a little differently on either side.
    int worstAlpha = 0;
    int worstShade = 0;
    for (int y = 0; y < a.height; ++y) {
      for (int x = 0; x < a.width; ++x) {
        const auto p = a.at(x, y);
        const auto q = b.at(a.width - 1 - x, y);
        auto shade = [](Bitmap::Pixel c) { return (c.r + c.g + c.b) / 3 * c.a / 255; };
        worstAlpha = std::max(worstAlpha, std::abs(p.a - q.a));
        worstShade = std::max(worstShade, std::abs(shade(p) - shade(q)));
      }
    }
    EXPECT_LE(worstAlpha, 4) << "scale " << scale;
    EXPECT_LE(worstShade, 24) << "scale " << scale;
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
  // Without a current context nothing is drawn and the drawing reports it.
  EXPECT_FALSE(image->drawInRect({0, 0, 24, 24}));
}

}  // namespace
}  // namespace dravel::testing
