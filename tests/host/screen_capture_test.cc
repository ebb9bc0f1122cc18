#include "host/capture_handler.h"
#include "host/main_flutter_window.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class ScreenCapturePipeline : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    useTwoScreens();
    desktop().input().pointer = {720, 450};
  }
};

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
// against xwd and the compositors' own captures, the overlay left out; the
// screenshot service's route is not taken there.
TEST_F(ScreenCapturePipeline, NoImageIsCaptureFailed) {
  engine().behaviour.legacyGivesNothing = true;
  useWindowServerRoute();
  const MethodResponse reply = capture("captureScreen");
  const auto* e = std::get_if<FlutterError>(&reply);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, "capture_failed");
}

// The pixel conversion.

CapturedImage image(int64_t width, int64_t height, int64_t bytesPerRow, PixelFormat format,
                    std::vector<uint8_t> pixels) {
  return CapturedImage{width, height, bytesPerRow, format, std::move(pixels)};
}

class PixelConversion : public HostTest {};

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
