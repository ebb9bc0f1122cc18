// What the window list makes of the X facts of one window.
#include "platform/linux/x11/x11_window_list.h"

#include <gtest/gtest.h>

#include "channels/utf8.h"

namespace dravel::linux_platform {
namespace {

// The test desktop's shape: two monitors of 1440 x 1800, the primary on the
// right, so that bounds are measured from +1440+0.
DesktopLayout primaryOnTheRight(int scale = 1) {
  MonitorPixels left{"LEFT", 0, 0, 1440, 1800, false, 60};
  MonitorPixels right{"RIGHT", 1440, 0, 1440, 1800, true, 0x80000123u};
  return DesktopLayout({left, right}, scale);
}

WindowFacts xterm() {
  WindowFacts f;
  f.window = 0x600022;
  f.x = 101;
  f.y = 120;
  f.width = 484;
  f.height = 316;
  f.frameExtents = FrameExtents{1, 1, 20, 5};
  f.viewable = true;
  f.hintedPid = 4242;
  f.className = "XTerm";
  f.netName = "term one";
  return f;
}

// Framed windows, their owners, opacity, UTF-8 names, layers and docks,
// client-drawn shadows, minimised windows and the windows below another are
// checked against xwininfo, xprop and pgrep by tests/desktop/window_list_test.

TEST(WindowEntry, NamesAreValidUtf8WithinTheBound) {
  // Each of these is 2 bytes; the bound falls inside the last that fits.
  std::string longName;
  for (size_t i = 0; i < kMaxWindowTitleBytes; ++i) longName += "\xC3\xA9";
  WindowFacts f = xterm();
  f.netName = "x" + longName;
  f.className = longName + "!";
  const ValueMap entry = windowEntry(f, primaryOnTheRight());
  const std::string name = *entry.find(kCGWindowName)->asString();
  EXPECT_EQ(name.size(), kMaxWindowTitleBytes - 1);
  EXPECT_EQ(name, "x" + longName.substr(0, kMaxWindowTitleBytes - 2));
  EXPECT_EQ(entry.find(kCGWindowOwnerName)->asString()->size(), kMaxWindowTitleBytes);

  // A stray continuation byte, an overlong form and a code point past
  // U+10FFFF are replaced.
  EXPECT_EQ(validUtf8("a\x80z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(validUtf8("\xC0\xAF"), "\xEF\xBF\xBD");
  EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), "\xEF\xBF\xBD");
  // A sequence cut off at the end (a name read only in part) is dropped.
  EXPECT_EQ(validUtf8("ab\xF0\x9F\x98"), "ab");
}

TEST(WindowOptions, OnScreenIsOnTheCurrentDesktopAndDesktopsCanBeLeftOut) {
  const uint32_t onScreen = kWindowListOptionOnScreenOnly;
  WindowFacts f = xterm();
  f.desktop = 1;
  EXPECT_TRUE(passesOptions(f, onScreen, 1));
  EXPECT_FALSE(passesOptions(f, onScreen, 0));
  f.desktop = 0xFFFFFFFFu;  // on every desktop
  EXPECT_TRUE(passesOptions(f, onScreen, 3));
  f.type = WindowType::kDesktop;
  EXPECT_FALSE(passesOptions(f, kWindowListExcludeDesktopElements, std::nullopt));
}

}  // namespace
}  // namespace dravel::linux_platform
