// The X11 capture engine on the private test desktop. Pixels are checked
// against xwd's dump of the root and geometry against xrandr and xprop, never
// against what the engine itself thinks.

// gtest first: X's macros (None) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "platform/linux/session/screen_layout.h"
#include "platform/linux/x11/x11_screens.h"
#include "platform/linux/x11/x11_screen_capture.h"
#include "platform/linux/x11/x11_connection.h"
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
    engine_ = std::make_unique<X11ScreenCapture>(
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
                 std::function<bool()> cancelled = {}) {
    ContentFilter filter;
    filter.display.displayID = displayID;
    for (uint32_t w : excluded) filter.excludedWindows.push_back({w});
    StreamConfiguration configuration;
    configuration.showsCursor = false;
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
  std::unique_ptr<X11ScreenCapture> engine_;
  uint64_t untrapped_ = 0;
};

// The screenshot service's route, the one the host takes on X11, lists the
// monitors xrandr lists and the window manager's clients (each monitor's
// pixels on it are checked end to end against xwd by host_x11_test, and so
// is a capture while the overlay is up).
TEST_F(X11Capture, TheServiceListsWhatXrandrAndXpropList) {
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

  X11ScreenCapture* engine = engine_.get();
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
