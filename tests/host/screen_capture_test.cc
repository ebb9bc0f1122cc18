#include <array>
#include <cmath>

#include "host/capture_handler.h"
#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimScreen;
using sim::SimScreenCapture;
using Kind = SimScreenCapture::Request::Kind;
using Pixel = std::array<uint8_t, 4>;  // blue, green, red, alpha

constexpr Pixel kRed{0, 0, 255, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kHostPurple{0xD9, 0x3F, 0x5B, 255};

ValueMap windowEntry(int64_t number, int pid, Rect bounds, const char* fill) {
  ValueMap entry = windowAt(pid, bounds);
  entry.set("kCGWindowNumber", number);
  entry.set("fill", fill);
  return entry;
}

class ScreenCapturePipeline : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    // A red window on the primary, a green one on the left screen.
    useTwoScreens();
    desktop().windowList().entries = {
        Value(windowEntry(10, 500, {100, 100, 400, 300}, "#FF0000")),
        Value(windowEntry(11, 501, {-1800, -100, 800, 600}, "#00FF00"))};
    desktop().input().pointer = {720, 450};
  }

  static Pixel pixelAt(const Value& reply, int64_t x, int64_t y) {
    const Bytes& bytes = *reply.asMap()->find("bytes")->asBytes();
    const int64_t width = *reply.intAt("width");
    const size_t at = static_cast<size_t>((y * width + x) * 4);
    return {(*bytes)[at], (*bytes)[at + 1], (*bytes)[at + 2], (*bytes)[at + 3]};
  }
};

TEST_F(ScreenCapturePipeline, TheScreenshotServiceRouteAsksForFullPixelsInBGRA) {
  auto reply = captureDisplay(1);
  const Value& map = successValue(reply);
  EXPECT_EQ(std::make_tuple(map.intAt("width"), map.intAt("height"), map.intAt("displayId")),
            std::make_tuple(2880, 1800, 1));
  EXPECT_EQ((*map.asMap()->find("bytes")->asBytes())->size(), 20736000u);
  EXPECT_TRUE(log().contains("[Capture] 2880x1800 in 0 ms"));

  auto requests = engine().requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].kind, Kind::kScreenshot);
  EXPECT_TRUE(requests[1].onWorkerThread);  // started from the content's thread
  const StreamConfiguration& c = requests[1].configuration;
  EXPECT_FALSE(c.showsCursor);
  EXPECT_EQ(c.pixelFormat, 0x42475241u);

  // The desktop as drawn: the red window's inside, in pixels at scale 2.
  EXPECT_EQ(pixelAt(map, 600, 500), kRed);
}

TEST_F(ScreenCapturePipeline, FractionalPixelSizesAreTruncated) {
  desktop().screens().list[0]->setScale(1.5);
  desktop().screens().list[0]->setFrame({0, 0, 1001, 667});
  auto reply = captureDisplay(1);
  EXPECT_EQ(successValue(reply).intAt("width"), 1501);
  EXPECT_EQ(successValue(reply).intAt("height"), 1000);
}

TEST_F(ScreenCapturePipeline, EveryAnswerComesFromALaterTurnOfTheMainQueue) {
  for (bool windowServer : {false, true}) {
    if (windowServer) useWindowServerRoute();
    std::optional<MethodResponse> answer;
    CaptureHandler::shared().captureScreen(
        desktop().screens().list[0],
        FlutterResult("test", [&](MethodResponse r) { answer = std::move(r); }));
    engine().waitUntilIdle();
    EXPECT_FALSE(answer) << "window server route: " << windowServer;
    // The geometry is that of the moment of the reply.
    desktop().input().pointer = {100, 800};
    queue().runUntil([&] { return answer.has_value(); });
    ASSERT_TRUE(answer);
    EXPECT_EQ(successValue(*answer).doubleAt("cursorX"), 100.0);
    EXPECT_EQ(successValue(*answer).doubleAt("cursorY"), 100.0);
    desktop().input().pointer = {720, 450};
  }
}

TEST_F(ScreenCapturePipeline, AScreenWithoutANumberIsAnsweredAtOnceWithoutCapturing) {
  desktop().screens().list = {
      std::make_shared<SimScreen>(Rect{0, 0, 1440, 900}, 2.0, ValueMap{{"NSScreenNumber", "1"}})};
  std::optional<MethodResponse> answer;
  CaptureHandler::shared().captureScreen(
      desktop().screens().list[0],
      FlutterResult("test", [&](MethodResponse r) { answer = std::move(r); }));
  ASSERT_TRUE(answer);
  EXPECT_TRUE(isError(*answer, "no_screen"));
  EXPECT_TRUE(engine().requests().empty());
}

TEST_F(ScreenCapturePipeline, OnTheScreenshotServiceRouteOnlyTheOverlayIsLeftOut) {
  // The host's window, not an overlay, is captured like any other.
  window().setFrame({0, 0, 1440, 900}, false);
  window().setAlphaValue(1.0);
  capture("raiseWindow");
  auto shown = captureDisplay(1);
  EXPECT_EQ(pixelAt(successValue(shown), 600, 500), kHostPurple);
  EXPECT_TRUE(engine().requests()[1].excludedWindows.empty());

  engine().clearRequests();
  ASSERT_TRUE(isSuccess(capture("enterOverlay", ValueMap{{"displayId", 1}}), Value()));
  auto overlaid = captureDisplay(1);
  EXPECT_EQ(pixelAt(successValue(overlaid), 600, 500), kRed);
  EXPECT_EQ(engine().requests()[1].excludedWindows, std::vector<uint32_t>{4242});
}

TEST_F(ScreenCapturePipeline, AnUnchangedDesktopIsDrawnOnceAndAChangedOneAgain) {
  const size_t before = engine().renders.drawn();
  auto first = captureDisplay(1);
  auto second = captureDisplay(1);
  EXPECT_EQ(engine().renders.drawn(), before + 1);
  EXPECT_EQ(pixelAt(successValue(second), 600, 500), kRed);

  // The red window moves away: the next capture is drawn anew, and the
  // earlier reply keeps its own pixels.
  desktop().windowList().entries[0] = Value(windowEntry(10, 500, {800, 100, 400, 300}, "#FF0000"));
  auto moved = captureDisplay(1);
  EXPECT_EQ(engine().renders.drawn(), before + 2);
  EXPECT_NE(pixelAt(successValue(moved), 600, 500), kRed);
  EXPECT_EQ(pixelAt(successValue(first), 600, 500), kRed);

  // The other screen and the window-server route are drawings of their own.
  captureDisplay(2);
  useWindowServerRoute();
  captureDisplay(2);
  EXPECT_EQ(engine().renders.drawn(), before + 4);
}

TEST_F(ScreenCapturePipeline, TheWindowServerRouteTakesTheDisplayOrTheWindowsBelowTheOverlay) {
  useWindowServerRoute();
  auto whole = captureDisplay(2);
  EXPECT_EQ(successValue(whole).intAt("width"), 1920);
  EXPECT_EQ(pixelAt(successValue(whole), 500, 300), kGreen);  // BGRX comes out opaque
  ASSERT_EQ(engine().requests().size(), 1u);
  EXPECT_EQ(engine().requests()[0].kind, Kind::kDisplayImage);
  EXPECT_EQ(engine().requests()[0].displayID, 2u);

  engine().clearRequests();
  ASSERT_TRUE(isSuccess(capture("enterOverlay", ValueMap{{"displayId", 2}}), Value()));
  auto below = captureDisplay(2);
  EXPECT_EQ(pixelAt(successValue(below), 500, 300), kGreen);
  auto requests = engine().requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].kind, Kind::kWindowListImage);
  // The left screen's frame in top-left space: its top is 180 above the primary's.
  EXPECT_EQ(requests[0].bounds, (Rect{-1920, -180, 1920, 1080}));
  EXPECT_EQ(requests[0].windowID, 4242u);
}

TEST_F(ScreenCapturePipeline, EachFailureIsCaptureFailedWithItsMessage) {
  struct Case {
    const char* name;
    std::function<void(SimScreenCapture::Behaviour&)> set;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"content error", [](auto& b) { b.shareableContentError = "The user declined TCCs."; },
       "The user declined TCCs."},
      {"no content", [](auto& b) { b.shareableContentGivesNothing = true; },
       "display not shareable"},
      {"display left out", [](auto& b) { b.unshareableDisplays = {1}; }, "display not shareable"},
      {"screenshot error", [](auto& b) { b.screenshotError = "Stream failed."; }, "Stream failed."},
      {"screenshot gives nothing", [](auto& b) { b.screenshotGivesNothing = true; }, "no image"},
  };
  for (const Case& c : cases) {
    engine().behaviour = {};
    c.set(engine().behaviour);
    EXPECT_TRUE(isError(captureDisplay(1), "capture_failed", c.message)) << c.name;
  }
  engine().behaviour = {};
  engine().behaviour.legacyGivesNothing = true;
  useWindowServerRoute();
  EXPECT_TRUE(isError(capture("captureScreen"), "capture_failed", "no image"));
  capture("enterOverlay");
  EXPECT_TRUE(isError(capture("captureScreen"), "capture_failed", "no image"));
  for (const std::string& line : log().lines()) {
    EXPECT_EQ(line.rfind("[Capture]", 0), std::string::npos) << line;
  }
  // An image means success whatever the message.
  engine().behaviour = {};
  engine().behaviour.screenshotWarning = "Something odd happened.";
  desktop().processInfo().osVersion = {15, 0, 0};
  EXPECT_EQ(successValue(capture("captureScreen")).intAt("width"), 2880);
}

TEST_F(ScreenCapturePipeline, WithoutABitmapContextTheReplyIsAllZeroOfTheRightSize) {
  desktop().graphics().failBitmapContexts = true;
  auto reply = capture("captureScreen");
  const Value& map = successValue(reply);
  EXPECT_EQ(map.intAt("width"), 2880);
  EXPECT_EQ(map.intAt("height"), 1800);
  const ByteView& bytes = **map.asMap()->find("bytes")->asBytes();
  ASSERT_EQ(bytes.size(), 20736000u);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
}

// The pixel conversion.

CapturedImage image(int64_t width, int64_t height, int64_t bytesPerRow, PixelFormat format,
                    std::vector<uint8_t> pixels) {
  return CapturedImage{width, height, bytesPerRow, format, std::move(pixels)};
}

class PixelConversion : public HostTest {};

TEST_F(PixelConversion, PremultiplicationIsCorrectlyRoundedForEveryValue) {
  std::vector<uint8_t> in;
  for (int a = 0; a < 256; ++a) {
    for (int c = 0; c < 256; ++c)
      in.insert(in.end(), {uint8_t(c), 0, uint8_t(255 - c), uint8_t(a)});
  }
  PixelPayload p =
      CaptureHandler::bgraBytes(image(256, 256, 256 * 4, PixelFormat::kRGBAStraight, in));
  ASSERT_TRUE(p.bytes);
  for (int a = 0; a < 256; ++a) {
    for (int c = 0; c < 256; ++c) {
      const size_t at = static_cast<size_t>((a * 256 + c) * 4);
      const auto expect = [a](int v) { return static_cast<uint8_t>(std::lround(v * a / 255.0)); };
      ASSERT_EQ((*p.bytes)[at + 2], expect(c)) << c << " " << a;
      ASSERT_EQ((*p.bytes)[at + 0], expect(255 - c)) << c << " " << a;
      ASSERT_EQ((*p.bytes)[at + 3], a);
    }
  }
}

// Each layout: premultiplied BGRA is kept as it is (translucent included),
// BGRX comes out opaque whatever its fourth byte, opaque straight RGBA swaps
// to BGRA; the translucent straight values are the rounding test's.
TEST_F(PixelConversion, PaddedRowsOfEachLayoutComeOutTopFirstWithoutGaps) {
  const struct {
    PixelFormat format;
    uint8_t alphaIn, alphaOut;
  } cases[] = {{PixelFormat::kBGRAPremultiplied, 128, 128},
               {PixelFormat::kBGRX, 17, 255},
               {PixelFormat::kRGBAStraight, 255, 255}};
  for (const auto& c : cases) {
    // 3 x 2 pixels, 16 bytes per row: 4 bytes of padding filled with 0xEE.
    std::vector<uint8_t> in, out;
    const bool swapped = c.format == PixelFormat::kRGBAStraight;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        const auto v = static_cast<uint8_t>(10 * y + x);
        in.insert(in.end(), {v, 1, 2, c.alphaIn});
        out.insert(out.end(), {swapped ? uint8_t{2} : v, 1, swapped ? v : uint8_t{2}, c.alphaOut});
      }
      in.insert(in.end(), {0xEE, 0xEE, 0xEE, 0xEE});
    }
    PixelPayload p = CaptureHandler::bgraBytes(image(3, 2, 16, c.format, in));
    ASSERT_TRUE(p.bytes);
    EXPECT_EQ(*p.bytes, out) << static_cast<int>(c.format);
    EXPECT_EQ(std::make_pair(p.width, p.height), std::make_pair(int64_t{3}, int64_t{2}));
  }
}

TEST_F(PixelConversion, ImpossibleSizesAndBrokenImagesNeverCrash) {
  // width x 4 x height does not fit 64 bits: no payload at all.
  PixelPayload overflow = CaptureHandler::bgraBytes(
      image(int64_t{1} << 40, int64_t{1} << 40, int64_t{1} << 42, PixelFormat::kBGRX, {}));
  EXPECT_FALSE(overflow.bytes);
  // Fits 64 bits, but no channel message can carry more than 2^32 - 1 bytes.
  PixelPayload tooBig = CaptureHandler::bgraBytes(
      image(int64_t{1} << 16, int64_t{1} << 14, int64_t{1} << 18, PixelFormat::kBGRX, {}));
  EXPECT_FALSE(tooBig.bytes);
  // Pixel data shorter than the size promises: the right size, all zero.
  PixelPayload shortData =
      CaptureHandler::bgraBytes(image(4, 4, 16, PixelFormat::kBGRAPremultiplied, {1, 2, 3, 4}));
  ASSERT_TRUE(shortData.bytes);
  EXPECT_EQ(*shortData.bytes, ByteBuffer(64, 0));
  PixelPayload empty = CaptureHandler::bgraBytes(image(0, 0, 0, PixelFormat::kBGRX, {}));
  ASSERT_TRUE(empty.bytes);
  EXPECT_TRUE(empty.bytes->empty());
}

}  // namespace
}  // namespace dravel::testing
