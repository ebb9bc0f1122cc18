// The main window on the test desktop, checked with the desktop's own tools:
// xwininfo and xprop for what the server and the window manager hold, xdotool
// for input, a second X client for grabs.
#include "tests/desktop/window_on_desktop.h"

namespace dravel::linux_platform {
namespace {

TEST_F(WindowOnDesktop, AManagedClientWhoseFrameLandsOnRootPixelsFrameIncluded) {
  makeWindow();
  ASSERT_NE(xid, 0);
  EXPECT_EQ(mapState(xid), "IsUnMapped");
  EXPECT_FALSE(window->isVisible());
  // Titled: the frame includes the window manager's decorations. Primary
  // LEFT is 1800 pixels high with its bottom-left at the origin.
  const Rect frame{100, 200, 600, 400};
  window->setFrame(frame, true);
  window->makeKeyAndOrderFront();
  EXPECT_TRUE(window->isVisible());
  ASSERT_TRUE(waitForMapState("IsViewable"));
  // The window manager manages it under the same id.
  EXPECT_TRUE(waitFor([&] {
    return commandOutput({"xprop", "-root", "_NET_CLIENT_LIST"}).find(hexId(xid)) !=
           std::string::npos;
  }));
  EXPECT_EQ(window->windowNumber(), xid);
  const RootRect expected{100, 1800 - 600, 600, 400};
  EXPECT_TRUE(waitFor([&] { return frameOf(xid) == expected; }))
      << frameOf(xid) << " extents " << propertyOf(xid, "_NET_FRAME_EXTENTS");
  EXPECT_GT(frameExtentsOf(xid)[2], 0) << "a titled window has a title bar";
  // Once the window has heard the server's last reports on it. (Where the
  // content sits in the frame is linux_window_geometry_test's arithmetic.)
  EXPECT_TRUE(waitFor([&] { return window->frame() == frame; }));

  // A move by someone else shows in the frame.
  runCommand({"xdotool", "windowmove", std::to_string(xid), "400", "300"});
  EXPECT_TRUE(waitFor([&] {
    const RootRect outer = frameOf(xid);
    return window->frame() == Rect{static_cast<double>(outer.x),
                                   static_cast<double>(1800 - outer.y - outer.height), 600, 400};
  })) << frameOf(xid);

  // The right monitor becomes primary: global x = 0 is now root x = 1440.
  ASSERT_TRUE(makeRightMonitorPrimary());
  const Rect away{-1340, 100, 500, 300};
  window->setFrame(away, false);
  EXPECT_TRUE(waitFor([&] {
    return frameOf(xid) == RootRect{100, 1800 - 400, 500, 300};
  })) << frameOf(xid);
  EXPECT_TRUE(waitFor([&] { return window->frame() == away; }));

  window->orderOut();
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(waitForMapState("IsUnMapped"));
}

TEST_F(WindowOnDesktop, LevelsCollectionsAndActivationPoliciesBecomeWindowManagerHints) {
  makeWindow();
  LinuxApplication application([this] { return window.get(); });
  window->setLevel(3);
  window->setCollectionBehavior(kCollectionCanJoinAllSpaces | kCollectionStationary);
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  auto state = [&](const char* part) {
    return propertyOf(xid, "_NET_WM_STATE").find(part) != std::string::npos;
  };
  auto onAllDesktops = [&] {
    return propertyOf(xid, "_NET_WM_DESKTOP").find("4294967295") != std::string::npos;
  };
  EXPECT_TRUE(waitFor([&] { return state("_NET_WM_STATE_ABOVE"); }))
      << propertyOf(xid, "_NET_WM_STATE");
  EXPECT_TRUE(waitFor(onAllDesktops)) << propertyOf(xid, "_NET_WM_DESKTOP");
  EXPECT_FALSE(state("SKIP_TASKBAR"));

  // The accessory policy leaves the taskbar only; prohibited leaves the pager too.
  EXPECT_TRUE(application.setActivationPolicy(kActivationPolicyAccessory));
  EXPECT_TRUE(waitFor([&] { return state("SKIP_TASKBAR"); }));
  EXPECT_FALSE(state("SKIP_PAGER"));
  EXPECT_TRUE(application.setActivationPolicy(kActivationPolicyProhibited));
  EXPECT_TRUE(waitFor([&] { return state("SKIP_PAGER"); }));

  // Back to normal: not above, on one desktop only.
  window->setLevel(0);
  window->setCollectionBehavior(0);
  EXPECT_TRUE(waitFor([&] { return !state("_NET_WM_STATE_ABOVE") && !onAllDesktops(); }))
      << propertyOf(xid, "_NET_WM_STATE") << propertyOf(xid, "_NET_WM_DESKTOP");
}

TEST_F(WindowOnDesktop, ApplicationActivatesAndUnhidesTheMainWindowAndSeesItsSheets) {
  makeWindow();
  LinuxApplication application([this] { return window.get(); });
  window->setOverrides(countingOrderOuts());

  // Hidden: activation shows nothing.
  application.activateIgnoringOtherApps(true);
  EXPECT_FALSE(window->isVisible());

  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  const std::string termTwo = idLine(windowNamed("term two"));
  ASSERT_TRUE(waitFor([&] { return focusedWindow() == termTwo; })) << "ordered front without focus";
  application.activateIgnoringOtherApps(true);
  EXPECT_TRUE(waitFor([&] { return focusedWindow() == idLine(xid); })) << focusedWindow();

  // A modal dialog on the window is an attached sheet.
  GtkWidget* dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window->widget()));
  gtk_widget_show(dialog);
  EXPECT_FALSE(window->hasAttachedSheet()) << "not modal";
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  EXPECT_TRUE(window->hasAttachedSheet());
  gtk_widget_hide(dialog);
  EXPECT_FALSE(window->hasAttachedSheet()) << "hidden";
  gtk_widget_destroy(dialog);

  application.unhide();
  EXPECT_EQ(orderOuts, 0) << "not hidden, nothing to unhide";
  application.hide();
  EXPECT_EQ(orderOuts, 1);
  EXPECT_TRUE(waitForMapState("IsUnMapped"));
  application.unhide();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(waitForMapState("IsViewable"));
}

TEST_F(WindowOnDesktop, OnlyAWindowThatCanBecomeKeyTakesFocusAndGrabsAndItsEndFreesThem) {
  makeWindow();
  NativeWindowOverrides overrides;
  overrides.canBecomeKey = [] { return false; };
  window->setOverrides(overrides);
  const std::string termTwo = idLine(windowNamed("term two"));
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  window->makeKeyAndOrderFront();
  waitFor([] { return true; });
  EXPECT_EQ(focusedWindow(), termTwo);
  window->orderOut();

  // Nor does the overlay grab anything.
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setFrame(Rect{0, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] { return overrideRedirect(xid) && mapState(xid) == "IsViewable"; }));
  waitFor([] { return true; });
  EXPECT_FALSE(window->holdsGrabs());
  EXPECT_EQ(focusedWindow(), termTwo);

  // One that can grabs; destroyed, it leaves no window and no grab.
  window->orderOut();
  window->setOverrides({});
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  EXPECT_FALSE(anotherClientCanGrabPointerAndKeyboard());
  window.reset();
  waitFor([] { return true; });
  EXPECT_EQ(mapState(xid), "gone");
  EXPECT_TRUE(anotherClientCanGrabPointerAndKeyboard());
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

TEST_F(WindowOnDesktop, CloseIconifyAndUnmapFromOutsideReachTheHostAsTheirOwn) {
  makeWindow();
  int closes = 0;
  NativeWindowOverrides overrides = countingOrderOuts();
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

  // Iconified: miniaturized, not ordered out.
  ASSERT_TRUE(runCommand({"xdotool", "windowminimize", std::to_string(xid)}));
  ASSERT_TRUE(waitFor([&] { return window->isMiniaturized(); }));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(orderOuts, 0);
  window->deminiaturize();
  ASSERT_TRUE(waitFor([&] { return !window->isMiniaturized(); }));
  EXPECT_TRUE(waitForMapState("IsViewable"));
  EXPECT_TRUE(window->isVisible());

  // Unmapped by someone else: an order out.
  ASSERT_TRUE(runCommand({"xdotool", "windowunmap", std::to_string(xid)}));
  EXPECT_TRUE(waitFor([&] { return orderOuts == 1; }));
  EXPECT_FALSE(window->isVisible());

  // Without the host's close the window is hidden, never destroyed.
  window->setOverrides({});
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
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
  ASSERT_TRUE(waitFor([&] {
    return frameOf(xid) == RootRect{300, 1800 - 800, 400, 300};
  })) << frameOf(xid);

  // 50 pixels in from the frame's left edge, 80 up from its bottom edge.
  ASSERT_TRUE(runCommand({"xdotool", "mousemove", "350", std::to_string(1800 - 500 - 80)}));
  EXPECT_TRUE(waitFor([&] {
    return window->mouseLocationOutsideOfEventStream() == Point{50, 80};
  })) << ::testing::PrintToString(window->mouseLocationOutsideOfEventStream());
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
    EXPECT_EQ(static_cast<const GdkEvent*>(event.nativeEvent.get())->button.button, 1u);
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
      LinuxWindowHooks{}, std::make_unique<X11WindowSystem>());
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
  // Root pixels: x 200, bottom edge 1800 - 400, 600 x 400.
  ASSERT_TRUE(waitFor([&] {
    return frameOf(xid) == RootRect{200, 1000, 600, 400};
  })) << frameOf(xid);
  EXPECT_TRUE(waitFor([&] { return window->frame() == frame; }));
  EXPECT_EQ(window->contentViewFrame(), (Rect{0, 0, 300, 200}));

  // 100 pixels right of the left edge and 60 above the bottom edge.
  ASSERT_TRUE(runCommand({"xdotool", "mousemove", "300", "1340", "click", "1"}));
  ASSERT_TRUE(waitFor([&] { return !events.empty(); }));
  EXPECT_EQ(events[0].locationInWindow, (Point{50, 30}));
}

}  // namespace
}  // namespace dravel::linux_platform
