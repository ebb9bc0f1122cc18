// The X11 capture engine on the private test desktop. Pixels are checked
// against xwd's dump of the root and geometry against xrandr and xprop, never
// against what the engine itself thinks.

// gtest first: X's macros (None) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "platform/linux/desktop_layout.h"
#include "platform/linux/linux_screen_capture.h"
#include "platform/linux/x_connection.h"
#include "platform/seam/window_list.h"
#include "tests/support/x_desktop.h"
#include "tests/support/xwd_image.h"

namespace dravel::linux_platform {
namespace {

using ::dravel::testing::commandOutput;
using ::dravel::testing::requireTestDesktop;
using ::dravel::testing::runCommand;

using ::dravel::testing::RgbImage;
using ::dravel::testing::rgbOf;

// The root as xwd dumps it now; empty (after a failure) when it cannot.
RgbImage xwdRoot() {
  std::optional<RgbImage> dump = ::dravel::testing::xwdRoot();
  if (!dump) ADD_FAILURE() << "no xwd dump of the root";
  return dump.value_or(RgbImage{});
}

// The root once two dumps in a row agree: clients that react to a change
// (xeyes to the pointer, the window manager to monitors) have caught up.
RgbImage settledXwdRoot() {
  RgbImage xwd = xwdRoot();
  for (int tries = 0; tries < 20; ++tries) {
    RgbImage again = xwdRoot();
    const bool settled = again.rgb == xwd.rgb;
    xwd = std::move(again);
    if (settled) break;
  }
  return xwd;
}

// Whether the image's colours equal the dump's pixels from (x, y) on.
::testing::AssertionResult sameAsXwd(const CapturedImagePtr& image, const RgbImage& xwd, int64_t x,
                                     int64_t y) {
  if (!image) return ::testing::AssertionFailure() << "no image";
  if ((image->format != PixelFormat::kBGRX && image->format != PixelFormat::kBGRAPremultiplied) ||
      !image->isWellFormed()) {
    return ::testing::AssertionFailure() << "not a well-formed BGRX or opaque BGRA image";
  }
  if (x < 0 || y < 0 || x + image->width > xwd.width || y + image->height > xwd.height) {
    return ::testing::AssertionFailure() << image->width << " x " << image->height << " at " << x
                                         << "," << y << " is not inside the dump";
  }
  const int64_t different =
      xwd.crop(x, y, image->width, image->height).differingPixels(rgbOf(*image));
  if (different == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << different << " of " << image->width * image->height << " pixels differ";
}

int64_t pixelsOfColour(const RgbImage& image, uint32_t rgb) {
  int64_t count = 0;
  for (int64_t i = 0; i < image.width * image.height; ++i) count += image.pixel(i, 0) == rgb;
  return count;
}

// xrandr's list of monitors: name, then root pixel rectangle.
std::map<std::string, PixelRect> xrandrMonitors() {
  std::map<std::string, PixelRect> monitors;
  for (const ::dravel::testing::ListedMonitor& m : ::dravel::testing::listedMonitors()) {
    monitors[m.name] = PixelRect{m.x, m.y, m.width, m.height};
  }
  return monitors;
}

struct Answer {
  CapturedImagePtr image;
  std::optional<std::string> error;
};

class X11Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    main_ = ::dravel::testing::openXConnection();
    ASSERT_TRUE(main_);
    engine_ = std::make_unique<LinuxScreenCapture>(
        "", *main_, [this] { return DesktopLayout(readMonitors(*main_), 1); });
    ASSERT_TRUE(engine_->screenshotServiceAvailable());
    untrapped_ = untrappedXErrorCount();
  }
  void TearDown() override {
    engine_.reset();
    main_.reset();
    // Every request that may fail runs in a trap.
    EXPECT_EQ(untrappedXErrorCount(), untrapped_);
  }

  ShareableContent content() {
    auto calls = std::make_shared<std::atomic<int>>(0);
    std::promise<ShareableContent> answered;
    engine_->getShareableContent(false, true, [&, calls](auto content, auto error) {
      EXPECT_FALSE(error) << *error;
      if (calls->fetch_add(1) == 0) answered.set_value(content.value_or(ShareableContent{}));
    });
    ShareableContent result = answered.get_future().get();
    engine_->waitUntilIdle();
    EXPECT_EQ(calls->load(), 1);
    return result;
  }

  Answer capture(uint32_t displayID, std::vector<uint32_t> excluded = {},
                 std::function<bool()> cancelled = {}, bool cursor = false) {
    ContentFilter filter;
    filter.display.displayID = displayID;
    for (uint32_t w : excluded) filter.excludedWindows.push_back({w});
    StreamConfiguration configuration;
    configuration.showsCursor = cursor;
    configuration.cancelled = std::move(cancelled);
    auto calls = std::make_shared<std::atomic<int>>(0);
    std::promise<Answer> answered;
    engine_->captureImage(filter, configuration, [&, calls](CapturedImagePtr image, auto error) {
      if (calls->fetch_add(1) == 0) answered.set_value({std::move(image), std::move(error)});
    });
    Answer result = answered.get_future().get();
    engine_->waitUntilIdle();
    EXPECT_EQ(calls->load(), 1);
    return result;
  }

  uint32_t idOf(const std::string& name) {
    for (const MonitorPixels& m : readMonitors(*main_)) {
      if (m.name == name) return m.displayID;
    }
    ADD_FAILURE() << "no monitor " << name;
    return 0;
  }

  std::unique_ptr<XConnection> main_;
  std::unique_ptr<LinuxScreenCapture> engine_;
  uint64_t untrapped_ = 0;
};

// The screenshot service's route lists the monitors xrandr lists and the
// window manager's clients (each monitor's pixels on it are checked end to
// end against xwd by host_x11_test); the window server's route gives the
// monitors and bounds as xwd shows them.
TEST_F(X11Capture, RoutesListWhatXrandrAndXpropListAndGiveWhatXwdShows) {
  const std::map<std::string, PixelRect> monitors = xrandrMonitors();
  const ShareableContent listed = content();
  ASSERT_EQ(listed.displays.size(), monitors.size());
  EXPECT_EQ(engine_->workerRoute(), XImageReader::Route::kSharedMemory);
  for (const ShareableDisplay& display : listed.displays) {
    auto monitor = std::static_pointer_cast<const MonitorPixels>(display.handle);
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(monitors.count(monitor->name)) << monitor->name;
  }
  // The windows are the window manager's clients; xprop prints
  // "_NET_CLIENT_LIST(WINDOW): window id # 0x..., 0x...".
  const std::string line = commandOutput({"xprop", "-root", "_NET_CLIENT_LIST"});
  std::set<uint32_t> clients;
  for (size_t at = line.find("0x"); at != std::string::npos; at = line.find("0x", at + 2)) {
    clients.insert(static_cast<uint32_t>(std::stoul(line.substr(at), nullptr, 16)));
  }
  ASSERT_EQ(clients.size(), 3u) << line;
  std::set<uint32_t> windows;
  for (const ShareableWindow& w : listed.windows) windows.insert(w.windowID);
  EXPECT_EQ(windows, clients);

  RgbImage xwd = xwdRoot();
  for (const auto& [name, rect] : monitors) {
    CapturedImagePtr image = engine_->displayCreateImage(idOf(name));
    ASSERT_TRUE(image) << name;
    EXPECT_EQ(image->width, rect.width);
    EXPECT_EQ(image->height, rect.height);
    EXPECT_TRUE(sameAsXwd(image, xwd, rect.x, rect.y)) << name;
  }
  EXPECT_FALSE(engine_->displayCreateImage(0x7654321));

  // Window-list bounds count from the primary's top-left corner: with the
  // right monitor made primary, the left one lies at negative points.
  ASSERT_TRUE(::dravel::testing::makeRightMonitorPrimary());
  ASSERT_NE(commandOutput({"xrandr", "--listmonitors"}).find("*RIGHT"), std::string::npos);
  xwd = settledXwdRoot();
  auto bounds = [&](Rect rect) {
    return engine_->windowListCreateImage(rect, kWindowListOptionOnScreenBelowWindow, 0,
                                          kWindowImageBestResolution);
  };
  EXPECT_TRUE(sameAsXwd(bounds({0, 0, 1440, 1800}), xwd, 1440, 0));
  EXPECT_TRUE(sameAsXwd(bounds({-1440, 0, 1440, 1800}), xwd, 0, 0));
  // Bounds reaching past the root give what is on it.
  CapturedImagePtr image = bounds({1360, 1700, 400, 400});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 80);
  EXPECT_EQ(image->height, 100);
  EXPECT_TRUE(sameAsXwd(image, xwd, 2800, 1700));
}

TEST_F(X11Capture, GetImageReadsTheSamePixelsAsSharedMemory) {
  const RgbImage xwd = xwdRoot();
  XImageReader shared(*main_, "test");
  XImageReader plain(*main_, "test", false);
  ASSERT_EQ(shared.route(), XImageReader::Route::kSharedMemory);
  ASSERT_EQ(plain.route(), XImageReader::Route::kGetImage);
  EXPECT_EQ(plain.rootArea(), (PixelRect{0, 0, xwd.width, xwd.height}));
  for (XImageReader* reader : {&shared, &plain}) {
    // Alternating sizes: the segment's image is remade for each.
    for (const PixelRect& area : {PixelRect{1440, 0, 1440, 1800}, PixelRect{17, 33, 301, 7},
                                  PixelRect{0, 0, xwd.width, xwd.height}}) {
      std::string why;
      EXPECT_TRUE(sameAsXwd(reader->read(area, &why), xwd, area.x, area.y)) << why;
    }
    // Past the root's edge: refused whole, never partly read.
    std::string why;
    EXPECT_FALSE(reader->read(PixelRect{2800, 0, 100, 10}, &why));
    EXPECT_FALSE(why.empty());
  }
}

// The monitor changes between the request and the read (the change runs on
// the worker when the capture starts): what remains of it on the root is
// given, smaller or reaching past the root's right edge; a monitor gone
// gives an error and no pixels.
TEST_F(X11Capture, AMonitorThatChangedOrWentBeforeTheReadGivesWhatRemainsOnTheRoot) {
  const uint32_t right = idOf("RIGHT");
  for (const char* geometry : {"720/190x900/238+1440+300", "2000/500x900/238+1600+100", ""}) {
    bool changed = false;
    const Answer answer = capture(right, {}, [&] {
      if (!changed) {
        changed = runCommand({"xrandr", "--delmonitor", "RIGHT"}) &&
                  (!*geometry || runCommand({"xrandr", "--setmonitor", "RIGHT", geometry, "none"}));
      }
      return false;
    });
    ASSERT_TRUE(changed) << geometry;
    const std::map<std::string, PixelRect> monitors = xrandrMonitors();
    if (!*geometry) {
      ASSERT_EQ(monitors.count("RIGHT"), 0u);
      EXPECT_FALSE(answer.image);
      EXPECT_TRUE(answer.error);
      // The one that stayed is still captured.
      EXPECT_TRUE(capture(idOf("LEFT")).image);
      continue;
    }
    ASSERT_EQ(monitors.count("RIGHT"), 1u) << geometry;
    const PixelRect now = monitors.at("RIGHT");
    ASSERT_EQ(idOf("RIGHT"), right) << "the name keeps its id";
    ASSERT_FALSE(answer.error) << *answer.error;
    ASSERT_TRUE(answer.image);
    EXPECT_EQ(answer.image->width, std::min<int64_t>(now.width, 2880 - now.x)) << geometry;
    EXPECT_EQ(answer.image->height, now.height) << geometry;
    EXPECT_TRUE(sameAsXwd(answer.image, xwdRoot(), now.x, now.y)) << geometry;
  }
}

// A solid override-redirect window, as the overlay is, made by another client.
class SolidWindow {
 public:
  SolidWindow(int x, int y, int width, int height, unsigned long pixel)
      : display_(XOpenDisplay(nullptr)) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = pixel;
    window_ =
        XCreateWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    XSync(display_, False);
  }
  ~SolidWindow() { XCloseDisplay(display_); }
  uint32_t id() const { return static_cast<uint32_t>(window_); }
  void show(bool shown) {
    shown ? XMapRaised(display_, window_) : XUnmapWindow(display_, window_);
    XSync(display_, False);
  }

 private:
  Display* display_;
  Window window_ = 0;
};

TEST_F(X11Capture, CapturesExcludingTheOverlayGiveTheScreenFromBeforeItAppeared) {
  constexpr uint32_t kMagenta = 0xff00ff;
  const uint32_t left = idOf("LEFT");
  SolidWindow overlay(200, 300, 400, 300, kMagenta);
  const RgbImage before = xwdRoot();
  ASSERT_EQ(pixelsOfColour(before, kMagenta), 0) << "the colour must be the overlay's alone";

  engine_->snapshotBeforeOverlay(overlay.id());
  overlay.show(true);
  const RgbImage during = xwdRoot();
  ASSERT_EQ(during.pixel(300, 400), kMagenta) << "the overlay is on screen";

  // The screenshot service's route, which lists the overlay so that it can
  // be excluded, is checked end to end against xwd by host_x11_test. The
  // window server's route:
  CapturedImagePtr image =
      engine_->windowListCreateImage(Rect{0, 0, 1440, 1800}, kWindowListOptionOnScreenBelowWindow,
                                     overlay.id(), kWindowImageBestResolution);
  EXPECT_TRUE(sameAsXwd(image, before, 0, 0));
  // The whole snapshot, for the overlay's background.
  CapturedImagePtr whole = engine_->overlaySnapshot();
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->width, 2880);
  EXPECT_TRUE(sameAsXwd(whole, before, 0, 0));

  // Captures that do not exclude it see it.
  Answer answer = capture(left, {});
  ASSERT_TRUE(answer.image);
  EXPECT_EQ(pixelsOfColour(rgbOf(*answer.image), kMagenta), 400 * 300);
  // Once hidden, the snapshot is gone and the live screen is captured.
  engine_->overlayHidden(overlay.id() + 1);
  EXPECT_TRUE(engine_->overlaySnapshot()) << "another window's hiding keeps it";
  engine_->overlayHidden(overlay.id());
  EXPECT_FALSE(engine_->overlaySnapshot());
  answer = capture(left, {overlay.id()});
  ASSERT_TRUE(answer.image);
  EXPECT_TRUE(sameAsXwd(answer.image, during, 0, 0));
  overlay.show(false);
}

TEST_F(X11Capture, TheCursorIsDrawnWhereThePointerIsWhenAskedFor) {
  commandOutput({"xdotool", "mousemove", "1900", "1000"});
  // "x:1900 y:1000 screen:0 window:..."
  long long px = 0, py = 0;
  ASSERT_EQ(std::sscanf(commandOutput({"xdotool", "getmouselocation"}).c_str(), "x:%lld y:%lld",
                        &px, &py),
            2);
  // xeyes follows the pointer. xwd leaves the cursor out.
  const RgbImage xwd = settledXwdRoot();
  const uint32_t right = idOf("RIGHT");
  EXPECT_TRUE(sameAsXwd(capture(right).image, xwd, 1440, 0)) << "no cursor unless asked";
  const Answer answer = capture(right, {}, {}, true);
  ASSERT_TRUE(answer.image);
  const RgbImage drawn = rgbOf(*answer.image);
  int64_t changed = 0;
  int64_t far = 0;
  for (int64_t y = 0; y < drawn.height; ++y) {
    for (int64_t x = 0; x < drawn.width; ++x) {
      if (drawn.pixel(x, y) == xwd.pixel(1440 + x, y)) continue;
      ++changed;
      // A cursor image is at most 64 pixels from its hot spot.
      if (std::abs(1440 + x - px) > 64 || std::abs(y - py) > 64) ++far;
    }
  }
  EXPECT_GT(changed, 10);
  EXPECT_EQ(far, 0);
}

// Cancelled before or during the read, or with the engine going away: each
// capture is answered at most once, and what was still queued never.
TEST_F(X11Capture, CancelledCapturesAndQueuedWorkOfAnEngineGoingAwayAreAnsweredAtMostOnce) {
  const uint32_t left = idOf("LEFT");
  Answer answer = capture(left, {}, [] { return true; });
  EXPECT_FALSE(answer.image);
  EXPECT_TRUE(answer.error);
  // Cancelled while the pixels were being read.
  int polls = 0;
  answer = capture(left, {}, [&] { return ++polls > 1; });
  EXPECT_EQ(polls, 2);
  EXPECT_FALSE(answer.image);
  EXPECT_TRUE(answer.error);

  LinuxScreenCapture* engine = engine_.get();
  std::promise<void> started;
  auto answers = std::make_shared<std::vector<std::atomic<int>>>(6);
  auto errors = std::make_shared<std::atomic<int>>(0);
  for (size_t i = 0; i < answers->size(); ++i) {
    ContentFilter filter;
    filter.display.displayID = left;
    StreamConfiguration configuration;
    configuration.showsCursor = false;
    if (i == 0) {
      // Holds the worker until the engine is going away.
      configuration.cancelled = [&started, engine, first = true]() mutable {
        if (first) {
          first = false;
          started.set_value();
          while (!engine->stopping()) std::this_thread::yield();
        }
        return false;
      };
    }
    engine_->captureImage(filter, configuration,
                          [answers, errors, i](CapturedImagePtr image, auto error) {
                            ++(*answers)[i];
                            if (!image && error) ++*errors;
                          });
  }
  started.get_future().wait();
  engine_.reset();
  EXPECT_EQ((*answers)[0].load(), 1) << "the capture in progress is answered";
  EXPECT_EQ(errors->load(), 1) << "as cancelled";
  for (size_t i = 1; i < answers->size(); ++i) EXPECT_EQ((*answers)[i].load(), 0) << i;
}

}  // namespace
}  // namespace dravel::linux_platform
