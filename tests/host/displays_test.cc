#include "host/displays.h"

#include "host/capture_handler.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimScreen;

// The geometry map: the screen bottom-left, the cursor within it from its top-left.
Value geometryOf(double scale, int64_t displayId, Rect screen, Point cursor) {
  return ValueMap{{"scale", scale},      {"displayId", displayId},  {"screenX", screen.x},
                  {"screenY", screen.y}, {"screenW", screen.width}, {"screenH", screen.height},
                  {"cursorX", cursor.x}, {"cursorY", cursor.y}};
}

class Displays : public LaunchedHostTest {
 protected:
  static std::optional<uint32_t> idOf(Value number) {
    SimScreen screen({0, 0, 10, 10}, 1.0, ValueMap{{"NSScreenNumber", std::move(number)}});
    return displayID(screen);
  }
};

TEST_F(Displays, DisplayIdIsTheScreenNumberAsUnsigned32Bits) {
  EXPECT_EQ(idOf(Value(69733378)), 69733378u);
  EXPECT_EQ(idOf(Value(int64_t{4294967295})), 4294967295u);
  EXPECT_EQ(idOf(Value(int64_t{4294967296} + 5)), 5u);
  EXPECT_EQ(idOf(Value(int64_t{-1})), 4294967295u);
  EXPECT_EQ(idOf(Value(3.0)), 3u);
  EXPECT_EQ(idOf(Value("1")), std::nullopt);
  EXPECT_EQ(idOf(Value()), std::nullopt);
  SimScreen without({0, 0, 10, 10}, 1.0, ValueMap{{"NSDeviceSize", 1}});
  EXPECT_EQ(displayID(without), std::nullopt);
}

TEST_F(Displays, ScreenUnderCursorAnswersItsGeometryBottomLeftWithTheCursorInIt) {
  useTwoScreens();
  desktop().input().pointer = {-1000, 500};
  EXPECT_TRUE(isSuccess(capture("screenUnderCursor"),
                        geometryOf(1.0, 2, {-1920, 0, 1920, 1080}, {920, 580})));
  desktop().input().pointer = {100, 800};
  EXPECT_TRUE(
      isSuccess(capture("screenUnderCursor"), geometryOf(2.0, 1, {0, 0, 1440, 900}, {100, 100})));
  desktop().input().pointer = {-1000, 500};
  // The same pointer seen from the primary screen lies outside it; the id is echoed unchecked.
  ValueMap primary = CaptureHandler::geometry(*desktop().screens().list[0], 12345);
  EXPECT_EQ(*primary.find("cursorX"), Value(-1000.0));
  EXPECT_EQ(*primary.find("cursorY"), Value(400.0));
  EXPECT_EQ(*primary.find("displayId"), Value(12345));
}

TEST_F(Displays, GeometryReadsThePointerOnceAndNeverFlips) {
  desktop().screens().list = {SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 1),
                              SimScreen::withDisplayId({0, 900, 1280, 800}, 1.0, 7)};
  desktop().input().pointer = {10, 1000};
  const int readsBefore = desktop().input().mouseReads;
  ValueMap above = CaptureHandler::geometry(*desktop().screens().list[1], 7);
  EXPECT_EQ(desktop().input().mouseReads, readsBefore + 1);
  EXPECT_EQ(*above.find("screenY"), Value(900.0));  // bottom-left, never flipped
  EXPECT_EQ(*above.find("cursorY"), Value(700.0));
}

TEST_F(Displays, APointerOnASharedBorderBelongsToExactlyOneScreen) {
  useTwoScreens();
  // The vertical border x = 0: the left edge belongs to the primary.
  desktop().input().pointer = {0, 500};
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[0]);
  desktop().input().pointer = {-0.5, 500};
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[1]);
  // Stacked screens: the top edge is inside, the bottom edge outside.
  desktop().screens().list = {SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 1),
                              SimScreen::withDisplayId({0, 900, 1440, 900}, 2.0, 2)};
  desktop().input().pointer = {100, 900};
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[0]);
  desktop().input().pointer = {100, 900.5};
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[1]);
}

TEST_F(Displays, APointerInAGapFallsBackToTheMainScreenThenTheFirst) {
  desktop().screens().list = {SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 1),
                              SimScreen::withDisplayId({1440, 0, 1920, 1200}, 1.0, 2)};
  desktop().input().pointer = {100, 1100};  // above the shorter primary
  desktop().screens().mainIndex = 1;
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[1]);
  desktop().screens().mainIndex = -1;
  EXPECT_EQ(screenUnderCursor(), desktop().screens().list[0]);
  desktop().screens().list.clear();
  EXPECT_EQ(screenUnderCursor(), nullptr);
}

}  // namespace
}  // namespace dravel::testing
