// The main window as the capture overlay on the test desktop: above
// everything on its monitor with focus and grabs, or kept above managed
// windows below the menus; checked with xwininfo, xdotool, a second X client
// and the server's pixels.
#include "tests/desktop/window_on_desktop.h"

namespace dravel::linux_platform {
namespace {

// A snapshot of one colour: `red` BGRX as the capture engine gives it, else
// straight blue RGBA as a portal's decoder does (rows padded).
std::shared_ptr<CapturedImage> snapshot(int64_t width, int64_t height, bool red) {
  auto image = std::make_shared<CapturedImage>();
  image->width = width;
  image->height = height;
  image->bytesPerRow = width * 4 + (red ? 0 : 8);
  image->format = red ? PixelFormat::kBGRX : PixelFormat::kRGBAStraight;
  image->pixels.assign(static_cast<size_t>(image->bytesPerRow * height), 0);
  for (int64_t y = 0; y < height; ++y) {
    for (int64_t x = 0; x < width; ++x) {
      uint8_t* p = &image->pixels[static_cast<size_t>(y * image->bytesPerRow + x * 4)];
      p[2] = 0xff;
      if (!red) p[3] = 0xff;
    }
  }
  return image;
}

TEST_F(WindowOnDesktop, OverlayCoversTheRightMonitorAboveEverythingWithFocusAndGrabs) {
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
  // A red screen stands for the capture engine's snapshot.
  hooks.overlaySnapshot = [image = snapshot(1440, 1800, true)] { return image; };
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
  // Where it lies, its focus, and nothing grabbed after it are checked end
  // to end by host_x11_test against xwininfo, xdotool and another client.

  // Above "term two" (which was active): what the screen shows there is the
  // overlay's painting of the snapshot, not the terminal.
  EXPECT_TRUE(waitFor([] { return screenPixel(1750, 250) == "srgb(255,0,0)"; }))
      << screenPixel(1750, 250);
  // The left monitor is untouched.
  EXPECT_NE(screenPixel(1000, 1500), "srgb(255,0,0)");
  EXPECT_TRUE(waitFor([&] { return window->holdsGrabs(); }));

  // Frozen: opaque black over everything, the snapshot no longer shows.
  window->setOpaque(true);
  window->setBackgroundColor(Color::black());
  EXPECT_TRUE(waitFor([] { return screenPixel(1750, 250) == "srgb(0,0,0)"; }))
      << screenPixel(1750, 250);

  // Leaving: hidden first, then back to a managed window.
  window->orderOut();
  window->setStyleMask(kWindowStyleTitled);
  window->setLevel(0);
  window->setCollectionBehavior(0);
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden"}));
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  EXPECT_FALSE(overrideRedirect(xid));
  EXPECT_EQ(calls.size(), 2u) << "a managed window is no overlay";
}

TEST_F(WindowOnDesktop, OverlayBelowMenusIsAKeptAboveManagedWindowAndBackAgain) {
  std::vector<std::string> calls;
  LinuxWindowHooks hooks;
  hooks.beforeOverlayMaps = [&](uint32_t) { calls.push_back("before"); };
  hooks.overlayHidden = [&](uint32_t) { calls.push_back("hidden"); };
  hooks.overlaySnapshot = [image = snapshot(4, 4, false)] { return image; };
  makeWindow(std::move(hooks));
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setOpaque(false);
  window->setBackgroundColor(Color::clear());
  window->setFrame(Rect{0, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  // Over "term one", the snapshot scaled to the window, its colours kept.
  EXPECT_TRUE(waitFor([] { return screenPixel(300, 200) == "srgb(0,0,255)"; }))
      << screenPixel(300, 200);

  // Below menus while shown: the window comes back managed, above the others.
  window->setLevel(100);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->holdsGrabs());
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden"}));
  ASSERT_TRUE(waitFor([&] {
    return propertyOf(xid, "_NET_WM_STATE").find("_NET_WM_STATE_ABOVE") != std::string::npos;
  })) << propertyOf(xid, "_NET_WM_STATE");
  EXPECT_FALSE(overrideRedirect(xid));
  EXPECT_TRUE(waitForMapState("IsViewable"));
  EXPECT_TRUE(waitFor([&] { return focusedWindow() == idLine(xid); })) << "still key";

  // And above everything again, still shown (the unmap on the way is its own).
  window->setLevel(1000);
  EXPECT_TRUE(waitFor([&] { return window->holdsGrabs(); }));
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden", "before"}));
  EXPECT_EQ(mapState(xid), "IsViewable");
  EXPECT_TRUE(overrideRedirect(xid));
  EXPECT_TRUE(waitFor([&] {
    return contentOf(xid) == RootRect{0, 0, 1440, 1800};
  })) << contentOf(xid);
}

}  // namespace
}  // namespace dravel::linux_platform
