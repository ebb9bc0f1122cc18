// The main window as the capture overlay on the test desktop: mapped after
// its hook, painted with the capture engine's snapshot, hidden before it
// becomes a managed window again; checked with the server's pixels.
#include "tests/desktop/window_on_desktop.h"

namespace dravel::linux_platform {
namespace {

// A red snapshot, BGRX as the capture engine gives it.
std::shared_ptr<CapturedImage> snapshot(int64_t width, int64_t height) {
  auto image = std::make_shared<CapturedImage>();
  image->width = width;
  image->height = height;
  image->bytesPerRow = width * 4;
  image->format = PixelFormat::kBGRX;
  image->pixels.assign(static_cast<size_t>(image->bytesPerRow * height), 0);
  for (size_t i = 2; i < image->pixels.size(); i += 4) image->pixels[i] = 0xff;
  return image;
}

TEST_F(WindowOnDesktop, TheOverlayPaintsTheSnapshotBetweenItsHooks) {
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
  hooks.overlaySnapshot = [image = snapshot(1440, 1800)] { return image; };
  makeWindow(std::move(hooks));
  LinuxApplication application([this] { return window.get(); });

  // From a shown, managed window, as the host enters overlay mode.
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  window->orderOut();
  window->setStyleMask(kWindowStyleBorderless);
  window->setLevel(1000);
  window->setOpaque(false);
  window->setBackgroundColor(Color::clear());
  window->setFrame(Rect{1440, 0, 1440, 1800}, true);
  window->makeKeyAndOrderFront();
  application.activateIgnoringOtherApps(true);
  EXPECT_TRUE(window->isVisible());
  ASSERT_TRUE(waitForMapState("IsViewable"));
  EXPECT_EQ(calls, std::vector<std::string>{"before"});
  EXPECT_EQ(mapStateBeforeMap, IsUnmapped);

  // Above "term two" (which was active): what the screen shows there is the
  // overlay's painting of the snapshot, not the terminal.
  EXPECT_TRUE(waitFor([] { return screenPixel(1750, 250) == "srgb(255,0,0)"; }))
      << screenPixel(1750, 250);
  // The left monitor is untouched.
  EXPECT_NE(screenPixel(1000, 1500), "srgb(255,0,0)");

  // Leaving: hidden first, then back to a managed window. (Frozen black,
  // below menus and back are host_x11_test's, against xwininfo and xprop.)
  window->orderOut();
  window->setStyleMask(kWindowStyleTitled);
  window->setLevel(0);
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "hidden"}));
  window->orderFrontRegardless();
  ASSERT_TRUE(waitForMapState("IsViewable"));
  EXPECT_EQ(calls.size(), 2u) << "a managed window is no overlay";
}

}  // namespace
}  // namespace dravel::linux_platform
