// The main window as the capture overlay on the test desktop: above
// everything on its monitor with focus and grabs, or kept above managed
// windows below the menus; checked with xwininfo, xdotool, a second X client
// and the server's pixels.
#include "tests/desktop/window_on_desktop.h"

namespace dravel::linux_platform {
namespace {

TEST_F(WindowOnDesktop, OverlayCoversTheRightMonitorAboveEverythingWithFocusAndGrabs) {
  // A red screen stands for the capture engine's snapshot.
  auto snapshot = std::make_shared<CapturedImage>();
  snapshot->width = 1440;
  snapshot->height = 1800;
  snapshot->bytesPerRow = 1440 * 4;
  snapshot->format = PixelFormat::kBGRX;
  snapshot->pixels.resize(static_cast<size_t>(snapshot->bytesPerRow * snapshot->height));
  for (size_t i = 0; i < snapshot->pixels.size(); i += 4) snapshot->pixels[i + 2] = 0xff;

  std::vector<std::string> calls;
  int mapStateBeforeMap = -1;
  LinuxWindowHooks hooks;
  hooks.beforeOverlayMaps = [&](uint32_t id) {
    calls.push_back("before");
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display(), id, &attributes)) mapStateBeforeMap = attributes.map_state;
  };
  hooks.overlayHidden = [&](uint32_t id) {
    calls.push_back("hidden");
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display(), id, &attributes)) {
      EXPECT_EQ(attributes.map_state, IsUnmapped) << "the overlay is unmapped first";
    }
  };
  hooks.overlaySnapshot = [&] { return snapshot; };
  makeWindow(std::move(hooks));
  LinuxApplication application([this] { return window.get(); });

  // From a shown, managed window, as the host enters overlay mode.
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  window->orderOut();
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setCollectionBehavior(337);
  window->setHasShadow(false);
  window->setMovable(false);
  window->setOpaque(false);
  window->setBackgroundColor(Color::clear());
  window->setFrame(Rect{1440, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  application.activateIgnoringOtherApps(true);
  EXPECT_TRUE(window->isVisible());
  ASSERT_TRUE(waitForMapState("IsViewable"));
  EXPECT_EQ(calls, std::vector<std::string>{"before"});
  EXPECT_EQ(mapStateBeforeMap, IsUnmapped);

  std::string info = commandOutput({"xwininfo", "-id", hex(xid)});
  EXPECT_NE(info.find("Override Redirect State: yes"), std::string::npos) << info;
  EXPECT_TRUE(waitFor([&] {
    return contentOf(xid) == Geometry{1440, 0, 1440, 1800};
  })) << contentOf(xid);
  EXPECT_TRUE(waitFor([&] {
    return commandOutput({"xdotool", "getwindowfocus"}) == std::to_string(xid) + "\n";
  })) << commandOutput({"xdotool", "getwindowfocus"});

  // Above "term two" (which was active): what the screen shows there is the
  // overlay's painting of the snapshot, not the terminal.
  EXPECT_TRUE(waitFor([] { return pixelAt(1750, 250) == "srgb(255,0,0)"; }, 50))
      << pixelAt(1750, 250);
  // The left monitor is untouched.
  EXPECT_NE(pixelAt(1000, 1500), "srgb(255,0,0)");

  // Nobody else can grab while the overlay is key.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_NE(other, nullptr);
  const Window root = DefaultRootWindow(other);
  EXPECT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  EXPECT_EQ(XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None,
                         None, CurrentTime),
            AlreadyGrabbed);
  EXPECT_EQ(XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime),
            AlreadyGrabbed);

  // Frozen: opaque black over everything, the snapshot no longer shows.
  window->setOpaque(true);
  window->setBackgroundColor(Color::black());
  EXPECT_TRUE(waitFor([] { return pixelAt(1750, 250) == "srgb(0,0,0)"; }, 50))
      << pixelAt(1750, 250);

  // Leaving: hidden first, then back to a managed window.
  window->orderOut();
  window->setStyleMask(kWindowStyleTitled);
  window->setLevel(0);
  window->setCollectionBehavior(0);
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden"}));
  EXPECT_EQ(mapState(xid), "IsUnMapped");
  EXPECT_EQ(XGrabPointer(other, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None,
                         None, CurrentTime),
            GrabSuccess);
  EXPECT_EQ(XGrabKeyboard(other, root, False, GrabModeAsync, GrabModeAsync, CurrentTime),
            GrabSuccess);
  XUngrabPointer(other, CurrentTime);
  XUngrabKeyboard(other, CurrentTime);
  XCloseDisplay(other);

  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  info = commandOutput({"xwininfo", "-id", hex(xid)});
  EXPECT_NE(info.find("Override Redirect State: no"), std::string::npos) << info;
  EXPECT_EQ(calls.size(), 2u) << "a managed window is no overlay";
}

TEST_F(WindowOnDesktop, OverlayBelowMenusIsAKeptAboveManagedWindowAndBackAgain) {
  std::vector<std::string> calls;
  LinuxWindowHooks hooks;
  hooks.beforeOverlayMaps = [&](uint32_t) { calls.push_back("before"); };
  hooks.overlayHidden = [&](uint32_t) { calls.push_back("hidden"); };
  // A snapshot as a portal's decoder gives it: straight RGBA, here blue.
  auto snapshot = std::make_shared<CapturedImage>();
  snapshot->width = 4;
  snapshot->height = 4;
  snapshot->bytesPerRow = 4 * 4 + 8;
  snapshot->format = PixelFormat::kRGBAStraight;
  snapshot->pixels.assign(static_cast<size_t>(snapshot->bytesPerRow * 4), 0);
  for (int64_t y = 0; y < 4; ++y) {
    for (int64_t x = 0; x < 4; ++x) {
      snapshot->pixels[static_cast<size_t>(y * snapshot->bytesPerRow + x * 4 + 2)] = 0xff;
      snapshot->pixels[static_cast<size_t>(y * snapshot->bytesPerRow + x * 4 + 3)] = 0xff;
    }
  }
  hooks.overlaySnapshot = [&] { return snapshot; };
  makeWindow(std::move(hooks));
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setOpaque(false);
  window->setBackgroundColor(Color::clear());
  window->setFrame(Rect{0, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  // Over "term one", the snapshot scaled to the window, its colours kept.
  EXPECT_TRUE(waitFor([] { return pixelAt(300, 200) == "srgb(0,0,255)"; }, 50))
      << pixelAt(300, 200);

  // Below menus while shown: the window comes back managed, above the others.
  window->setLevel(100);
  EXPECT_EQ(window->level(), 100);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->holdsGrabs());
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden"}));
  ASSERT_TRUE(waitFor([&] {
    return propertyOf(xid, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE") != std::string::npos;
  })) << propertyOf(xid, "_NET_WM_STATE");
  EXPECT_NE(commandOutput({"xwininfo", "-id", hex(xid)}).find("Override Redirect State: no"),
            std::string::npos);
  EXPECT_TRUE(waitForMapState("IsViewable"));
  EXPECT_TRUE(waitFor([&] {
    return commandOutput({"xdotool", "getwindowfocus"}) == std::to_string(xid) + "\n";
  })) << "still key";

  // And above everything again, still shown (the unmap on the way is its own).
  window->setLevel(1000);
  EXPECT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden", "before"}));
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(mapState(xid), "IsViewable");
  EXPECT_NE(commandOutput({"xwininfo", "-id", hex(xid)}).find("Override Redirect State: yes"),
            std::string::npos);
  EXPECT_TRUE(waitFor([&] {
    return contentOf(xid) == Geometry{0, 0, 1440, 1800};
  })) << contentOf(xid);
}

}  // namespace
}  // namespace dravel::linux_platform
