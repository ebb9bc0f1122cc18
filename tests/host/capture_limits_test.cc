// Bounds of the capture pipeline: replies that could not pass the frame
// limit, callers that have gone, the engine's cancellation and the bytes its
// rendering cache keeps, and the window list's size.
#include <atomic>
#include <string>

#include "channels/frame.h"
#include "channels/requester.h"
#include "channels/utf8.h"
#include "host/capture_handler.h"
#include "platform/seam/window_list.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::RenderCache;
using sim::Scene;
using sim::SimScreen;
using sim::SimScreenCapture;
using Kind = SimScreenCapture::Request::Kind;

class CaptureLimits : public LaunchedHostTest {
 protected:
  void oneScreen(double width, double height) {
    desktop().screens().list = {SimScreen::withDisplayId({0, 0, width, height}, 1.0, 1)};
    desktop().input().pointer = {10, 10};
  }
};

// The reply limit is the one every frame reader enforces.
static_assert(kMaxReplyPayloadSize + kFrameFixedSize == kDefaultMaxFrameSize);

TEST_F(CaptureLimits, AReplyOverTheFrameLimitIsRefusedBeforeAnythingIsDrawn) {
  // 8192 x 8193 x 4 bytes is just over 256 MiB.
  oneScreen(8192, 8193);
  for (bool legacy : {false, true}) {
    if (legacy) useWindowServerRoute();
    const size_t drawn = engine().renders.drawn();
    auto reply = captureDisplay(1);
    auto* error = std::get_if<FlutterError>(&reply);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, "capture_failed");
    const std::string message = error->message.value_or("");
    EXPECT_NE(message.find("8192 x 8193"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(kMaxReplyPayloadSize)), std::string::npos) << message;
    EXPECT_TRUE(engine().requests().empty());
    EXPECT_EQ(engine().renders.drawn(), drawn);
  }
}

TEST_F(CaptureLimits, AScreenJustUnderTheLimitIsAskedForInFull) {
  // The engine is told to fail, so that nothing of this size is drawn: what
  // matters is that the size check let the capture through.
  oneScreen(8192, 8191);
  engine().behaviour.screenshotError = "engine says no";
  EXPECT_TRUE(isError(captureDisplay(1), "capture_failed", "engine says no"));
  auto requests = engine().requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].configuration.width, 8192);
  EXPECT_EQ(requests[1].configuration.height, 8191);
}

TEST_F(CaptureLimits, ACaptureForACallerThatHasGoneDrawsNothing) {
  oneScreen(1440, 900);
  for (bool legacy : {false, true}) {
    if (legacy) useWindowServerRoute();
    auto requester = std::make_shared<Requester>();
    requester->markGone();
    const size_t drawn = engine().renders.drawn();
    {
      ScopedRequester scope(requester);
      EXPECT_TRUE(isError(captureDisplay(1), "capture_failed", "the caller has gone"));
    }
    engine().waitUntilIdle();
    EXPECT_TRUE(engine().requests().empty());
    EXPECT_EQ(engine().renders.drawn(), drawn);
  }
}

// The screenshot service asked directly, with a cancellation of its own.
class EngineCancellation : public CaptureLimits {
 protected:
  ContentFilter filter() {
    std::optional<ShareableContent> content;
    engine().getShareableContent(
        false, true, [&](std::optional<ShareableContent> c, std::optional<std::string>) {
          content = std::move(c);
        });
    engine().waitUntilIdle();
    EXPECT_TRUE(content && !content->displays.empty());
    return content ? ContentFilter{content->displays.front(), {}} : ContentFilter{};
  }

  std::pair<CapturedImagePtr, std::optional<std::string>> shoot(
      const StreamConfiguration& configuration) {
    std::pair<CapturedImagePtr, std::optional<std::string>> out;
    engine().captureImage(filter(), configuration,
                          [&](CapturedImagePtr image, std::optional<std::string> error) {
                            out = {std::move(image), std::move(error)};
                          });
    engine().waitUntilIdle();
    return out;
  }
};

TEST_F(EngineCancellation, ACaptureCancelledBeforeItStartsIsNeverDrawn) {
  oneScreen(1440, 900);
  StreamConfiguration configuration;
  configuration.width = 1440;
  configuration.height = 900;
  configuration.cancelled = [] { return true; };
  const size_t drawn = engine().renders.drawn();
  auto [image, error] = shoot(configuration);
  EXPECT_FALSE(image);
  EXPECT_EQ(error, "The capture was cancelled.");
  EXPECT_EQ(engine().renders.drawn(), drawn);
  EXPECT_EQ(engine().cancelledCaptures(), 1u);
}

TEST_F(EngineCancellation, ACaptureCancelledWhileDrawingStopsWithoutAnImage) {
  // Several bands and windows: the caller goes after a few polls.
  oneScreen(4000, 3000);
  for (int i = 0; i < 8; ++i) {
    ValueMap entry = windowAt(600 + i, {10.0 * i, 0, 3000, 2500});
    entry.set(kCGWindowAlpha, 0.5);
    desktop().windowList().entries.push_back(Value(std::move(entry)));
  }
  auto polls = std::make_shared<std::atomic<int>>(0);
  StreamConfiguration configuration;
  configuration.width = 4000;
  configuration.height = 3000;
  configuration.cancelled = [polls] { return ++*polls > 5; };
  auto [image, error] = shoot(configuration);
  EXPECT_FALSE(image);
  EXPECT_EQ(error, "The capture was cancelled.");
  EXPECT_EQ(engine().cancelledCaptures(), 1u);
  // It stopped soon after: nowhere near one poll per window of every band.
  EXPECT_LT(polls->load(), 10);
  EXPECT_EQ(engine().renders.entries(), 0u);
}

TEST_F(CaptureLimits, TheRenderingCacheKeepsNoMoreThanItsByteBound) {
  oneScreen(8000, 8000);
  const Scene scene = Scene::of(desktop());
  RenderCache cache;
  auto all = [](size_t) { return true; };
  auto render = [&](double side, int64_t width, int64_t height) {
    return cache.render(scene, {0, 0, side, side}, width, height, all,
                        PixelFormat::kBGRAPremultiplied);
  };
  // Two renderings of about 96 MB each do not fit together.
  ASSERT_TRUE(render(4000, 6000, 4000));
  EXPECT_EQ(cache.entries(), 1u);
  ASSERT_TRUE(render(5000, 6000, 4000));
  EXPECT_EQ(cache.entries(), 1u);
  EXPECT_LE(cache.bytes(), RenderCache::kMaxBytes);
  EXPECT_GT(cache.bytes(), 0u);
  const size_t kept = cache.bytes();
  // One larger than the whole bound is handed out but not kept.
  CapturedImagePtr huge = render(6000, 7000, 6500);
  ASSERT_TRUE(huge);
  EXPECT_GT(huge->pixels.size(), RenderCache::kMaxBytes);
  EXPECT_EQ(cache.bytes(), kept);
  EXPECT_EQ(cache.entries(), 1u);
  EXPECT_EQ(cache.drawn(), 3u);
}

TEST_F(CaptureLimits, WindowListsAndTitlesAreBoundedWhereTheyAreRead) {
  oneScreen(1440, 900);
  // A title of a megabyte whose cut falls inside a two-byte character, and
  // far more windows than the bound.
  std::string title(kMaxWindowTitleBytes - 1, 'a');
  while (title.size() < (1u << 20)) title += "\xC3\xA9";
  ValueMap titled = windowAt(700, {100, 100, 400, 300});
  titled.set(kCGWindowNumber, 0);
  for (const char* key : {kCGWindowOwnerName, kCGWindowName}) titled.set(key, title);
  ValueList many(20000, Value(ValueMap{}));
  many[0] = Value(std::move(titled));
  desktop().windowList().entries = std::move(many);

  std::optional<Value> listed = desktop().windowList().copyWindowInfo(
      kWindowListOptionOnScreenOnly | kWindowListExcludeDesktopElements, 0);
  ASSERT_TRUE(listed && listed->asList());
  EXPECT_EQ(listed->asList()->size(), kMaxWindowListEntries);
  const ValueMap* first = (*listed->asList())[0].asMap();
  ASSERT_TRUE(first);
  const std::string* name = first->find(kCGWindowName)->asString();
  const std::string* owner = first->find(kCGWindowOwnerName)->asString();
  ASSERT_TRUE(name && owner);
  // Cut before the character that would not fit whole.
  EXPECT_EQ(*name, std::string(kMaxWindowTitleBytes - 1, 'a'));
  EXPECT_EQ(*owner, *name);

  const Scene scene = Scene::of(desktop());
  EXPECT_LE(scene.windows.size(), kMaxWindowListEntries);
  ASSERT_FALSE(scene.windows.empty());
  EXPECT_LE(scene.windows[0].title.size(), kMaxWindowTitleBytes);
}

TEST(TruncateUtf8, CutsOnlyBetweenCharacters) {
  EXPECT_EQ(truncateUtf8("abc", 5), "abc");
  EXPECT_EQ(truncateUtf8("abc", 2), "ab");
  EXPECT_EQ(truncateUtf8("a\xC3\xA9", 2), "a");
  EXPECT_EQ(truncateUtf8("a\xC3\xA9", 3), "a\xC3\xA9");
  EXPECT_EQ(truncateUtf8("\xF0\x9F\x98\x80z", 3), "");
  EXPECT_EQ(truncateUtf8("\xF0\x9F\x98\x80z", 4), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace dravel::testing
