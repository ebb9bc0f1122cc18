// The Wayland desktop's arithmetic and its capture engine, with routes that
// are fakes of the compositor's ways of giving pixels.
#include <gtest/gtest.h>

#include <atomic>

#include "channels/virtual_main_queue.h"
#include "platform/linux/wayland_screen_capture.h"
#include "platform/linux/wayland_screens.h"

namespace dravel::linux_platform {
namespace {

WaylandMonitor monitor(int64_t x, int64_t y, int64_t w, int64_t h, int scale) {
  return {0, x, y, w, h, scale, false, "", ""};
}

TEST(WaylandScreens, DevicePixelLayoutsBecomePointsThatNeverOverlap) {
  struct Case {
    const char* what;
    std::vector<WaylandMonitor> given;
    bool physical;
    std::vector<WaylandMonitor> expected;
  };
  const WaylandMonitor hiDpi = monitor(0, 0, 2880, 1800, 2), halved = monitor(0, 0, 1440, 900, 2);
  const Case cases[] = {
      {"logical rectangles are points already",
       {monitor(0, 0, 720, 450, 2), monitor(720, 0, 1920, 1080, 1)},
       false,
       {monitor(0, 0, 720, 450, 2), monitor(720, 0, 1920, 1080, 1)}},
      // Sizes over their own scale, positions over the smallest.
      {"a panel at scale 2 beside one at 1",
       {hiDpi, monitor(2880, 0, 1920, 1080, 1)},
       true,
       {halved, monitor(2880, 0, 1920, 1080, 1)}},
      {"every monitor at scale 2: the whole layout halves",
       {hiDpi, monitor(2880, 0, 2880, 1800, 2)},
       true,
       {halved, monitor(1440, 0, 1440, 900, 2)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(logicalMonitors(c.given, c.physical), c.expected) << c.what;
  }
}

// A route that answers what it is told to, counting its captures.
class FakeRoute : public CaptureRoute {
 public:
  FakeRoute(std::string name, RouteResult answer, bool granted)
      : name_(std::move(name)), answer_(std::move(answer)), granted_(granted) {}
  std::string name() const override { return name_; }
  RouteResult capture(const RouteMonitor&, const RouteLayout&, bool,
                      const std::function<bool()>&) override {
    ++*captures_;
    return answer_;
  }
  bool granted() const override { return granted_; }
  bool requestGrant(const std::function<bool()>&) override {
    granted_ = true;
    return true;
  }

  std::shared_ptr<std::atomic<int>> captures_ = std::make_shared<std::atomic<int>>(0);

 private:
  std::string name_;
  RouteResult answer_;
  std::atomic<bool> granted_;
};

RouteResult image(int64_t w, int64_t h) {
  auto made = std::make_shared<CapturedImage>();
  made->width = w;
  made->height = h;
  made->bytesPerRow = w * 4;
  made->format = PixelFormat::kBGRX;
  made->pixels.assign(static_cast<size_t>(w * h * 4), 0x7f);
  return RouteResult{made, "", false};
}

class WaylandCaptureEngine : public ::testing::Test {
 protected:
  void SetUp() override { setMainQueue(&queue_); }
  void TearDown() override {
    engine_.reset();
    setMainQueue(nullptr);
  }

  // An engine over routes made from `answers` (null: not offered).
  void start(std::vector<std::pair<std::string, std::optional<RouteResult>>> answers,
             bool granted = true) {
    std::vector<WaylandScreenCapture::RouteOffer> offers;
    for (auto& [name, answer] : answers) {
      offers.push_back({name, [this, name, answer, granted](std::string* why) -> CaptureRoutePtr {
                          if (!answer) {
                            *why = "not on this session";
                            return nullptr;
                          }
                          auto route = std::make_unique<FakeRoute>(name, *answer, granted);
                          captures_[name] = route->captures_;
                          return route;
                        }});
    }
    RouteLayout layout(2);
    layout[0].displayID = 7;
    layout[1].displayID = 9;
    engine_ = std::make_unique<WaylandScreenCapture>(
        std::move(offers), [layout] { return layout; }, [] { return std::vector<uint32_t>{42}; });
    engine_->waitUntilIdle();
  }

  // One capture of display 9, as the host asks for it.
  std::pair<CapturedImagePtr, std::string> capture() {
    std::optional<ShareableContent> content;
    engine_->getShareableContent(false, true, [&](auto c, auto) { content = std::move(c); });
    engine_->waitUntilIdle();
    EXPECT_TRUE(content);
    EXPECT_EQ(content->windows.size(), 1u) << "the host's own window, to leave out";
    CapturedImagePtr got;
    std::string error;
    ContentFilter filter;
    filter.display = content->displays.at(1);
    engine_->captureImage(filter, StreamConfiguration{}, [&](CapturedImagePtr i, auto e) {
      got = std::move(i);
      error = e.value_or("");
    });
    engine_->waitUntilIdle();
    return {got, error};
  }

  VirtualMainQueue queue_;
  std::unique_ptr<WaylandScreenCapture> engine_;
  std::map<std::string, std::shared_ptr<std::atomic<int>>> captures_;
};

TEST_F(WaylandCaptureEngine, TheFirstRouteOfferedServesAndAnUnusableOneGivesWayForGood) {
  start({{"screencopy", std::nullopt},
         {"kwin", RouteResult{nullptr, "KWin refused the host", true}},
         {"portal", image(4, 3)}});
  EXPECT_EQ(engine_->routeNames(), (std::vector<std::string>{"kwin", "portal"}));
  auto [got, error] = capture();
  ASSERT_TRUE(got) << error;
  EXPECT_EQ(got->width, 4);
  EXPECT_EQ(engine_->routeNames(), (std::vector<std::string>{"portal"}));
  capture();
  EXPECT_EQ(*captures_["kwin"], 1) << "a refusing route is never asked again";
  EXPECT_EQ(*captures_["portal"], 2);
}

TEST_F(WaylandCaptureEngine, WithoutAnyRouteCapturesFailNamingWhatIsMissing) {
  start({{"wlr-screencopy", std::nullopt}, {"the ScreenCast portal", std::nullopt}});
  auto [got, error] = capture();
  EXPECT_FALSE(got);
  EXPECT_NE(error.find("wlr-screencopy: not on this session"), std::string::npos) << error;
  EXPECT_NE(error.find("the ScreenCast portal: not on this session"), std::string::npos) << error;
  EXPECT_FALSE(engine_->granted());
}

}  // namespace
}  // namespace dravel::linux_platform
