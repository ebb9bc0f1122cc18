#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class OverlayMode : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    useTwoScreens();
  }
  MethodResponse enter(int displayId) {
    return capture("enterOverlay", ValueMap{{"displayId", displayId}});
  }
  // What entering and leaving the overlay change: style, level, collection
  // behaviour, opacity, background, alpha and frame.
  auto windowState() {
    sim::SimWindow& w = window();
    return std::make_tuple(w.styleMask(), w.level(), w.collectionBehavior(), w.isOpaque(),
                           w.backgroundColor(), w.alphaValue(), w.frame());
  }
};

// Where the overlay lies, its focus and what it leaves behind are checked on
// the X desktop and under sway, KWin and GNOME; here, what it gives back.
TEST_F(OverlayMode, SettingsSavedOnTheFirstEntryComeBackAfterTwoEntries) {
  sim::SimWindow& w = window();
  const Rect normalFrame{300, 200, 1000, 700};
  w.setFrame(normalFrame, true);
  w.setStyleMask(kWindowStyleTitled | kWindowStyleResizable);
  w.setLevel(3);
  w.setCollectionBehavior(kCollectionMoveToActiveSpace);
  const Color viewColour = Color::rgba(0.2, 0.3, 0.4, 1);
  view().setBackgroundColor(viewColour);

  ASSERT_TRUE(isSuccess(enter(1), Value()));
  ASSERT_TRUE(isSuccess(enter(2), Value()));
  EXPECT_EQ(w.frame(), (Rect{-1920, 0, 1920, 1080}));
  EXPECT_TRUE(isSuccess(capture("freezeOverlay"), Value()));
  EXPECT_TRUE(isSuccess(capture("exitOverlay"), Value()));

  EXPECT_FALSE(host_.window->overlayActive);
  // Hidden, still opaque, and the application stays an accessory.
  EXPECT_EQ(windowState(), std::make_tuple(uint64_t{kWindowStyleTitled | kWindowStyleResizable}, 3,
                                           uint64_t{kCollectionMoveToActiveSpace}, true,
                                           Color::windowBackground(), 1.0, normalFrame));
  EXPECT_TRUE(w.hasShadow());
  EXPECT_EQ(view().backgroundColor(), viewColour);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(desktop().application().policy, kActivationPolicyAccessory);
}

TEST_F(OverlayMode, LeaveWithoutTheOverlayChangesNothing) {
  capture("raiseWindow");
  const int orderOuts = window().orderOutCount;
  desktop().input().buttons = 3;
  EXPECT_TRUE(isSuccess(capture("exitOverlay"), Value()));
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(window().orderOutCount, orderOuts);
  EXPECT_TRUE(view().received.empty());
  EXPECT_EQ(window().setFrameCount, 1);  // only start-up's
}

TEST_F(OverlayMode, StuckButtonsAreReleasedLeftFirst) {
  enter(1);
  window().mouseInWindow = {320, 240};
  desktop().input().buttons = 0b111;  // left, right and middle held
  queue().advance(2.5);
  capture("exitOverlay");
  ASSERT_EQ(view().received.size(), 2u);
  EXPECT_EQ(view().received[0].selector, "mouseUp");
  EXPECT_EQ(view().received[1].selector, "rightMouseUp");
  const MouseEvent left{2, {320, 240}, 0, 1002.5, 4242, 0, 1, 0.0, nullptr};
  EXPECT_EQ(view().received[0].event, left);
  MouseEvent right = left;
  right.type = 4;
  EXPECT_EQ(view().received[1].event, right);
  // Only the left and right buttons are looked at.
  view().received.clear();
  enter(1);
  desktop().input().buttons = 0b100;
  capture("exitOverlay");
  EXPECT_TRUE(view().received.empty());
}

TEST_F(OverlayMode, TheOverlayRefusesRaiseWindowAndTopStripForwarding) {
  enter(1);
  const uint64_t collection = window().collectionBehavior();
  const int activations = desktop().application().activations;
  EXPECT_TRUE(isSuccess(capture("raiseWindow"), Value()));
  EXPECT_EQ(window().collectionBehavior(), collection);
  EXPECT_EQ(desktop().application().activations, activations);
  // A left press just under the top edge takes the normal path.
  window().deliverEvent(MouseEvent{kLeftMouseDown, {100, 890}, 0, 0, 0, 0, 0, 0, nullptr});
  EXPECT_TRUE(view().received.empty());
  EXPECT_EQ(window().inheritedEvents.size(), 1u);
}

TEST_F(OverlayMode, EnterWithAnUnknownDisplayUsesTheScreenUnderThePointer) {
  desktop().input().pointer = {-100, 100};
  enter(99);
  EXPECT_EQ(window().frame(), (Rect{-1920, 0, 1920, 1080}));
}

}  // namespace
}  // namespace dravel::testing
