#include <array>
#include <cmath>

#include "host/capture_handler.h"
#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimScreenCapture;
using Pixel = std::array<uint8_t, 4>;  // blue, green, red, alpha

constexpr Pixel kRed{0, 0, 255, 255};

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

  EXPECT_FALSE(engine().requests().at(1).configuration.showsCursor);

  // The desktop as drawn: the red window's inside, in pixels at scale 2.
  EXPECT_EQ(pixelAt(map, 600, 500), kRed);
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

// The window server's route, the one the Linux desktops take, is checked
// against xwd and the compositors' own captures, the overlay left out.
TEST_F(ScreenCapturePipeline, EachFailureIsCaptureFailedAndAWarningWithAnImageIsNot) {
  const auto failed = [](const MethodResponse& r) {
    const auto* e = std::get_if<FlutterError>(&r);
    return e && e->code == "capture_failed" && e->message && !e->message->empty();
  };
  const std::function<void(SimScreenCapture::Behaviour&)> failures[] = {
      [](auto& b) { b.shareableContentError = "The user declined TCCs."; },
      [](auto& b) { b.screenshotGivesNothing = true; },
  };
  for (const auto& set : failures) {
    engine().behaviour = {};
    set(engine().behaviour);
    EXPECT_TRUE(failed(captureDisplay(1)));
  }
  engine().behaviour = {};
  engine().behaviour.legacyGivesNothing = true;
  useWindowServerRoute();
  EXPECT_TRUE(failed(capture("captureScreen")));
  engine().behaviour = {};
  engine().behaviour.screenshotWarning = "Something odd happened.";
  desktop().processInfo().osVersion = {15, 0, 0};
  EXPECT_EQ(successValue(capture("captureScreen")).intAt("width"), 2880);
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
}

}  // namespace
}  // namespace dravel::testing
