#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using StartUp = HostTest;

TEST_F(StartUp, RegistersThePluginsKeepsTheLaidOutFrameAndEndsHidden) {
  const Rect laidOut{300, 250, 1100, 720};
  // The interface file lays the window out before start-up.
  auto native = desktop().createMainWindow();
  native->setFrame(laidOut, false);
  host_.window = std::make_shared<MainFlutterWindow>(std::move(native));
  host_.window->awakeFromNib();

  // Each generated plugin registers with the registrar it asked for (the
  // process test sees the channels served).
  EXPECT_EQ(desktop().embedding().registrations.size(),
            desktop().embedding().registrarRequests.size());
  // The content view controller resized the window; start-up put it back.
  EXPECT_EQ(window().frame(), laidOut);
  EXPECT_EQ(window().contentViewController(), host_.window->flutterViewController());

  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(window().alphaValue(), 0.0);
}

TEST_F(StartUp, ThePlatformsCloseAndOrderOutOnlyHideTheHostsWindow) {
  launch();
  sim::SimWindow* before = &window();
  window().makeKeyAndOrderFront();
  window().setAlphaValue(0.0);
  // The close button hides through the host (which also restores alpha 0).
  window().userClose();
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(window().alphaValue(), 1.0);
  EXPECT_TRUE(isSuccess(capture("raiseWindow"), Value()));
  EXPECT_EQ(&window(), before);
  EXPECT_TRUE(window().isVisible());
  window().setAlphaValue(0.5);
  window().systemOrderOut();
  EXPECT_EQ(window().alphaValue(), 0.5);  // only exactly 0 is restored
}

class TopStrip : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    window().setFrame({0, 0, 1000, 728}, false);  // content 700 high below the title bar
    top_ = window().contentViewFrame()->maxY();
  }
  MouseEvent event(int type, double y) {
    MouseEvent e;
    e.type = type;
    e.locationInWindow = {100, y};
    return e;
  }
  double top_ = 0;
};

TEST_F(TopStrip, OnlyLeftButtonEventsInsideTheStripGoToTheView) {
  window().deliverEvent(event(kLeftMouseDown, top_ - 10));
  window().deliverEvent(event(kLeftMouseDragged, top_ - 30));
  window().deliverEvent(event(kLeftMouseUp, top_ - 59.5));
  std::vector<std::string> selectors;
  for (const auto& r : view().received) selectors.push_back(r.selector);
  EXPECT_EQ(selectors, (std::vector<std::string>{"mouseDown", "mouseDragged", "mouseUp"}));
  view().received.clear();
  // The strip's edges, other buttons and events, and a window with a sheet.
  window().deliverEvent(event(kLeftMouseDown, top_ - 60));
  window().deliverEvent(event(kLeftMouseDown, top_));
  window().deliverEvent(event(kRightMouseDown, top_ - 10));
  window().deliverEvent(event(kMouseMoved, top_ - 10));
  window().setAttachedSheet(true);
  window().deliverEvent(event(kLeftMouseDown, top_ - 10));
  EXPECT_TRUE(view().received.empty());
  EXPECT_EQ(window().inheritedEvents.size(), 5u);
}

}  // namespace
}  // namespace dravel::testing
