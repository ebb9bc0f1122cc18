// Bounds of the capture pipeline: replies that could not pass the frame
// limit, callers that have gone, and the window list's size.
#include <string>

#include "channels/frame.h"
#include "channels/requester.h"
#include "host/capture_handler.h"
#include "platform/seam/window_list.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::Scene;
using sim::SimScreen;

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

// The capture engines' own cancellation is checked on the X desktop.
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

}  // namespace
}  // namespace dravel::testing
