// The main window on the test desktop, checked with the desktop's own tools:
// xwininfo and xprop for what the server and the window manager hold, xdotool
// for input, a second X client for grabs.
#include "tests/desktop/window_on_desktop.h"

namespace dravel::linux_platform {
namespace {

TEST_F(WindowOnDesktop, ExistsHiddenThenShowsAsAManagedClient) {
  makeWindow();
  ASSERT_NE(xid, 0);
  EXPECT_EQ(mapState(xid), "IsUnMapped");
  EXPECT_FALSE(window->isVisible());

  window->orderFrontRegardless();
  EXPECT_TRUE(window->isVisible());
  ASSERT_TRUE(waitForMapState("IsViewable"));
  // The window manager manages it under the same id.
  EXPECT_TRUE(waitFor([&] {
    return commandOutput({"xprop", "-root", "_NET_CLIENT_LIST"}).find(hex(xid)) !=
           std::string::npos;
  }));
  EXPECT_EQ(window->windowNumber(), xid);

  window->orderOut();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(waitForMapState("IsUnMapped"));
}

TEST_F(WindowOnDesktop, FrameSetWhileHiddenAndShownLandsOnRootPixelsFrameIncluded) {
  makeWindow();
  // Titled: the frame includes the window manager's decorations. Primary
  // LEFT is 1800 pixels high with its bottom-left at the origin.
  const Rect frame{100, 200, 600, 400};
  window->setFrame(frame, true);
  EXPECT_EQ(window->frame(), frame);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  const Geometry expected{100, 1800 - 600, 600, 400};
  EXPECT_TRUE(waitFor([&] { return outerOf(xid) == expected; }))
      << outerOf(xid) << " extents " << propertyOf(xid, "_NET_FRAME_EXTENTS");
  const std::vector<int64_t> e = frameExtentsOf(xid);
  EXPECT_GT(e[2], 0) << "a titled window has a title bar";
  // Once the window has heard the server's last reports on it.
  EXPECT_TRUE(waitFor([&] { return window->frame() == frame; }));
  // The content in window coordinates sits above the bottom border.
  const std::optional<Rect> content = window->contentViewFrame();
  ASSERT_TRUE(content);
  EXPECT_EQ(*content,
            (Rect{static_cast<double>(e[0]), static_cast<double>(e[3]),
                  static_cast<double>(600 - e[0] - e[1]), static_cast<double>(400 - e[2] - e[3])}));

  // Moved while shown, onto the right monitor.
  const Rect moved{1500, 900, 300, 250};
  window->setFrame(moved, false);
  const Geometry expectedMoved{1500, 1800 - 1150, 300, 250};
  EXPECT_TRUE(waitFor([&] { return outerOf(xid) == expectedMoved; })) << outerOf(xid);
  EXPECT_TRUE(waitFor([&] { return window->frame() == moved; }));

  // A move by someone else shows in the frame.
  runCommand({"xdotool", "windowmove", std::to_string(xid), "400", "300"});
  EXPECT_TRUE(waitFor([&] {
    const Geometry outer = outerOf(xid);
    return window->frame() == Rect{static_cast<double>(outer.x),
                                   static_cast<double>(1800 - outer.y - outer.height), 300, 250};
  })) << outerOf(xid);
}

TEST_F(WindowOnDesktop, FrameFollowsThePrimaryMonitorWhenItMoves) {
  // The right monitor becomes primary: global x = 0 is now root x = 1440.
  ASSERT_TRUE(makeRightMonitorPrimary());
  ASSERT_NE(commandOutput({"xrandr", "--listmonitors"}).find("*RIGHT"), std::string::npos);

  makeWindow();
  window->setStyleMask(kWindowStyleBorderless);
  const Rect frame{-1340, 100, 500, 300};
  window->setFrame(frame, true);
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  const Geometry expected{100, 1800 - 400, 500, 300};
  EXPECT_TRUE(waitFor([&] { return outerOf(xid) == expected; })) << outerOf(xid);
  EXPECT_TRUE(waitFor([&] { return window->frame() == frame; }));
}

TEST_F(WindowOnDesktop, SettingsRoundTripAndBecomeWindowManagerHints) {
  makeWindow();
  LinuxApplication application([this] { return window.get(); });
  window->setLevel(3);
  window->setCollectionBehavior(kCollectionCanJoinAllSpaces | kCollectionStationary);
  window->setAlphaValue(0.37);
  window->setOpaque(false);
  const Color tint = Color::rgba(0.1, 0.2, 0.3, 0.4);
  window->setBackgroundColor(tint);
  window->setHasShadow(false);
  window->setMovable(false);
  window->setStyleMask(kWindowStyleTitled | kWindowStyleResizable);
  EXPECT_EQ(window->level(), 3);
  EXPECT_EQ(window->collectionBehavior(), kCollectionCanJoinAllSpaces | kCollectionStationary);
  EXPECT_EQ(window->alphaValue(), 0.37);
  EXPECT_FALSE(window->isOpaque());
  EXPECT_EQ(window->backgroundColor(), tint);
  EXPECT_FALSE(window->hasShadow());
  EXPECT_FALSE(window->isMovable());
  EXPECT_EQ(window->styleMask(), kWindowStyleTitled | kWindowStyleResizable);

  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  EXPECT_TRUE(waitFor([&] {
    return propertyOf(xid, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE") != std::string::npos;
  })) << propertyOf(xid, "_NET_WM_STATE");
  EXPECT_TRUE(waitFor([&] {
    return propertyOf(xid, "_NET_WM_DESKTOP").find("4294967295") != std::string::npos;
  })) << propertyOf(xid, "_NET_WM_DESKTOP");
  EXPECT_EQ(propertyOf(xid, "_NET_WM_STATE").find("SKIP_TASKBAR"), std::string::npos);

  // The accessory policy leaves the taskbar only; prohibited leaves the pager too.
  EXPECT_TRUE(application.setActivationPolicy(kActivationPolicyAccessory));
  EXPECT_EQ(application.activationPolicy(), kActivationPolicyAccessory);
  EXPECT_TRUE(waitFor(
      [&] { return propertyOf(xid, "_NET_WM_STATE").find("SKIP_TASKBAR") != std::string::npos; }));
  EXPECT_EQ(propertyOf(xid, "_NET_WM_STATE").find("SKIP_PAGER"), std::string::npos);
  EXPECT_TRUE(application.setActivationPolicy(kActivationPolicyProhibited));
  EXPECT_TRUE(waitFor(
      [&] { return propertyOf(xid, "_NET_WM_STATE").find("SKIP_PAGER") != std::string::npos; }));
  EXPECT_FALSE(application.setActivationPolicy(7));
  EXPECT_EQ(application.activationPolicy(), kActivationPolicyProhibited);

  // Back to normal: not above, on one desktop only.
  window->setLevel(0);
  window->setCollectionBehavior(0);
  EXPECT_TRUE(waitFor([&] {
    return propertyOf(xid, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE") == std::string::npos &&
           propertyOf(xid, "_NET_WM_DESKTOP").find("4294967295") == std::string::npos;
  })) << propertyOf(xid, "_NET_WM_STATE")
      << propertyOf(xid, "_NET_WM_DESKTOP");
}

TEST_F(WindowOnDesktop, ApplicationActivatesAndUnhidesTheMainWindow) {
  makeWindow();
  LinuxApplication application([this] { return window.get(); });
  int platformOrderOuts = 0;
  NativeWindowOverrides overrides;
  overrides.orderOut = [&] {
    ++platformOrderOuts;
    window->orderOut();
  };
  window->setOverrides(overrides);

  // Hidden: activation shows nothing.
  application.activateIgnoringOtherApps(true);
  EXPECT_FALSE(window->isVisible());

  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  const std::string termTwo = std::to_string(windowNamed("term two")) + "\n";
  ASSERT_TRUE(waitFor([&] {
    return commandOutput({"xdotool", "getwindowfocus"}) == termTwo;
  })) << "ordered front without focus";
  application.activateIgnoringOtherApps(true);
  EXPECT_TRUE(waitFor([&] {
    return commandOutput({"xdotool", "getwindowfocus"}) == std::to_string(xid) + "\n";
  })) << commandOutput({"xdotool", "getwindowfocus"});

  application.unhide();
  EXPECT_EQ(platformOrderOuts, 0) << "not hidden, nothing to unhide";
  application.hide();
  EXPECT_EQ(platformOrderOuts, 1);
  EXPECT_TRUE(waitForMapState("IsUnMapped"));
  application.unhide();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(waitForMapState("IsViewable"));
}

TEST_F(WindowOnDesktop, AModalDialogOnTheWindowIsAnAttachedSheet) {
  makeWindow();
  window->orderFrontRegardless();
  EXPECT_FALSE(window->hasAttachedSheet());
  GtkWidget* dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window->widget()));
  gtk_widget_show(dialog);
  EXPECT_FALSE(window->hasAttachedSheet()) << "not modal";
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  EXPECT_TRUE(window->hasAttachedSheet());
  gtk_widget_hide(dialog);
  EXPECT_FALSE(window->hasAttachedSheet()) << "hidden";
  gtk_widget_destroy(dialog);
}

TEST_F(WindowOnDesktop, AWindowThatCannotBecomeKeyShowsWithoutTakingTheFocus) {
  makeWindow();
  NativeWindowOverrides overrides;
  overrides.canBecomeKey = [] { return false; };
  window->setOverrides(overrides);
  const std::string termTwo = std::to_string(windowNamed("term two")) + "\n";

  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  window->makeKeyAndOrderFront();
  waitFor([] { return true; });
  EXPECT_EQ(commandOutput({"xdotool", "getwindowfocus"}), termTwo);
  window->orderOut();

  // Nor does the overlay grab anything.
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] {
    return commandOutput({"xwininfo", "-id", hex(xid)}).find("Override Redirect State: yes") !=
               std::string::npos &&
           mapState(xid) == "IsViewable";
  }));
  waitFor([] { return true; });
  EXPECT_FALSE(window->holdsGrabs());
  EXPECT_EQ(commandOutput({"xdotool", "getwindowfocus"}), termTwo);
}

// What the window manager sends when the user closes a window.
void requestClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = CurrentTime;
  event.xclient.data.l[1] = 2;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XFlush(display);
}

TEST_F(WindowOnDesktop, CloseFromTheWindowManagerReachesTheHostAndTheWindowStays) {
  makeWindow();
  int closes = 0;
  NativeWindowOverrides overrides;
  overrides.close = [&] { ++closes; };
  window->setOverrides(overrides);
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));

  requestClose(display(), static_cast<Window>(xid));
  ASSERT_TRUE(waitFor([&] { return closes == 1; }));
  // The host chose to do nothing: the window is still there and shown.
  waitFor([] { return true; });
  EXPECT_EQ(mapState(xid), "IsViewable");
  EXPECT_TRUE(window->isVisible());

  // Without the host's close the window is hidden, never destroyed.
  window->setOverrides({});
  requestClose(display(), static_cast<Window>(xid));
  EXPECT_TRUE(waitForMapState("IsUnMapped"));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(closes, 1);
}

TEST_F(WindowOnDesktop, ClicksReachTheDispatcherInWindowCoordinates) {
  makeWindow();
  std::vector<MouseEvent> events;
  window->setEventDispatcher([&](const MouseEvent& event) {
    if (event.type != kMouseMoved) events.push_back(event);
  });
  window->setFrame(Rect{300, 500, 400, 300}, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  const Geometry outer{300, 1800 - 800, 400, 300};
  ASSERT_TRUE(waitFor([&] { return outerOf(xid) == outer; })) << outerOf(xid);

  // 50 pixels in from the frame's left edge, 80 up from its bottom edge.
  const int x = 300 + 50;
  const int y = 1800 - 500 - 80;
  ASSERT_TRUE(runCommand({"xdotool", "mousemove", std::to_string(x), std::to_string(y)}));
  EXPECT_TRUE(waitFor([&] {
    return window->mouseLocationOutsideOfEventStream() == Point{50, 80};
  })) << window->mouseLocationOutsideOfEventStream().x
      << "," << window->mouseLocationOutsideOfEventStream().y;
  ASSERT_TRUE(runCommand({"xdotool", "click", "1"}));
  ASSERT_TRUE(waitFor([&] { return events.size() >= 2; }));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, kLeftMouseDown);
  EXPECT_EQ(events[1].type, kLeftMouseUp);
  for (const MouseEvent& event : events) {
    EXPECT_EQ(event.locationInWindow, (Point{50, 80}));
    EXPECT_EQ(event.windowNumber, xid);
    EXPECT_EQ(event.clickCount, 1);
    ASSERT_NE(event.nativeEvent, nullptr);
    const auto* native = static_cast<const GdkEvent*>(event.nativeEvent.get());
    EXPECT_EQ(native->button.button, 1u);
  }
  EXPECT_LE(events[0].timestamp, events[1].timestamp);
  EXPECT_EQ(window->inheritedEventCount(), 0u);

  // Without a dispatcher, events take the window's own path.
  window->setEventDispatcher(nullptr);
  ASSERT_TRUE(runCommand({"xdotool", "click", "3"}));
  EXPECT_TRUE(waitFor([&] { return window->inheritedEventCount() == 2; }));
  EXPECT_EQ(events.size(), 2u);
}

// The toolkit's scale comes from the environment when it starts.
class WindowOnDesktopAtScaleTwo : public WindowOnDesktop {
 protected:
  void SetUp() override {
    ASSERT_EQ(setenv("GDK_SCALE", "2", 1), 0);
    WindowOnDesktop::SetUp();
  }
};

TEST_F(WindowOnDesktopAtScaleTwo, PointsAreTwoPixels) {
  ASSERT_EQ(scaleFromEnvironment(), 2);
  window = std::make_unique<LinuxWindow>(
      [this] { return DesktopLayout(readMonitors(*connection_), scaleFromEnvironment()); },
      LinuxWindowHooks{});
  xid = window->windowNumber();
  ASSERT_EQ(gtk_widget_get_scale_factor(window->widget()), 2);
  std::vector<MouseEvent> events;
  window->setEventDispatcher([&](const MouseEvent& event) {
    if (event.type == kLeftMouseDown) events.push_back(event);
  });
  window->setStyleMask(kWindowStyleBorderless);
  const Rect frame{100, 200, 300, 200};
  window->setFrame(frame, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  // Root pixels: x 200, bottom edge 1800 - 400, 600 x 400.
  const Geometry expected{200, 1000, 600, 400};
  ASSERT_TRUE(waitFor([&] { return outerOf(xid) == expected; })) << outerOf(xid);
  EXPECT_TRUE(waitFor([&] { return window->frame() == frame; }));
  EXPECT_EQ(window->contentViewFrame(), (Rect{0, 0, 300, 200}));

  // 100 pixels right of the left edge and 60 above the bottom edge.
  ASSERT_TRUE(runCommand({"xdotool", "mousemove", "300", "1340", "click", "1"}));
  ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
  EXPECT_EQ(events[0].locationInWindow, (Point{50, 30}));
}

TEST_F(WindowOnDesktop, IconifyIsMiniaturizedButAnUnmapBySomeoneElseIsAnOrderOut) {
  makeWindow();
  int platformOrderOuts = 0;
  NativeWindowOverrides overrides;
  overrides.orderOut = [&] {
    ++platformOrderOuts;
    window->orderOut();
  };
  window->setOverrides(overrides);
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));

  ASSERT_TRUE(runCommand({"xdotool", "windowminimize", std::to_string(xid)}));
  ASSERT_TRUE(waitFor([&] { return window->isMiniaturized(); }));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(platformOrderOuts, 0);
  window->deminiaturize();
  ASSERT_TRUE(waitFor([&] { return !window->isMiniaturized(); }));
  EXPECT_TRUE(waitForMapState("IsViewable"));
  EXPECT_TRUE(window->isVisible());

  ASSERT_TRUE(runCommand({"xdotool", "windowunmap", std::to_string(xid)}));
  EXPECT_TRUE(waitFor([&] { return platformOrderOuts == 1; }));
  EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowOnDesktop, DestroyingTheWindowLeavesNoWindowAndNoGrab) {
  makeWindow();
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setFrame(Rect{0, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  window.reset();
  waitFor([] { return true; });
  EXPECT_EQ(mapState(xid), "gone");
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(XGrabKeyboard(other, DefaultRootWindow(other), False, GrabModeAsync, GrabModeAsync,
                          CurrentTime),
            GrabSuccess);
  XCloseDisplay(other);
}

}  // namespace
}  // namespace dravel::linux_platform
