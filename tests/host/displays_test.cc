#include "host/displays.h"

#include "host/capture_handler.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimScreen;

class Displays : public LaunchedHostTest {
 protected:
  static std::optional<uint32_t> idOf(Value number) {
    SimScreen screen({0, 0, 10, 10}, 1.0, ValueMap{{"NSScreenNumber", std::move(number)}});
    return displayID(screen);
  }
};

TEST_F(Displays, DisplayIdIsTheScreenNumberAsUnsigned32Bits) {
  EXPECT_EQ(idOf(Value(int64_t{4294967296} + 5)), 5u);
  EXPECT_EQ(idOf(Value(int64_t{-1})), 4294967295u);
  EXPECT_EQ(idOf(Value("1")), std::nullopt);
  SimScreen without({0, 0, 10, 10}, 1.0, ValueMap{{"NSDeviceSize", 1}});
  EXPECT_EQ(displayID(without), std::nullopt);
}

// The geometry's numbers are checked against xrandr on the X desktop.
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
