// "copyPng" under hostile and large input: the declared size is refused
// before anything is allocated, decoding runs off the main thread, and
// copies reach the clipboard in the order they were asked.
#include <fstream>
#include <sstream>
#include <string>

#include "channels/method_channel.h"
#include "channels/requester.h"
#include "host/capture_handler.h"
#include "platform/shared/image_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/png_maker.h"
#include "tests/support/proc_status.h"

namespace dravel::testing {
namespace {

// Starts a new peak-memory measurement: VmHWM falls back to VmRSS.
bool resetPeakMemory() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

class CopyPng : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    PasteboardItem old;
    old.setData("public.utf8-plain-text", {'h', 'i'});
    before_ = {old};
    desktop().pasteboard().contents = before_;
  }

  MethodResponse copy(const ByteBuffer& png) {
    return capture("copyPng", ValueMap{{"png", Value(png)}});
  }

  bool clipboardUntouched() {
    return desktop().pasteboard().contents == before_ && desktop().pasteboard().writes == 0;
  }

  std::vector<PasteboardItem> before_;
};

TEST_F(CopyPng, BadInputLeavesTheClipboardAlone) {
  ByteBuffer truncated = uniformPng(2, 1, 5);
  truncated.resize(truncated.size() / 2);
  for (const Value& args :
       {Value(), Value(ValueMap{{"png", "not bytes"}}),
        Value(ValueMap{{"png", ByteBuffer{1, 2, 3}}}), Value(ValueMap{{"png", truncated}}),
        Value(ValueMap{{"png", ByteBuffer{}}})}) {
    EXPECT_TRUE(isError(capture("copyPng", args), "bad_png")) << args.debugString();
  }
  EXPECT_TRUE(clipboardUntouched());
}

TEST_F(CopyPng, ImagesDeclaringMoreThanTheBoundAreRefusedBeforeAnyPixelIsAllocated) {
  ASSERT_TRUE(resetPeakMemory()) << "no peak-memory reset on this system";
  const long baseline = procStatusKb("VmRSS");
  // 16384 x 16384 is 2^28 pixels; 11586 x 11586 just over 2^27; and one
  // row of 2^27 + 1 pixels.
  for (const auto& [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{
           {16384, 16384}, {11586, 11586}, {(1u << 27) + 1, 1}}) {
    const ByteBuffer bomb = pngDeclaring(width, height);
    ASSERT_EQ(declaredImageSize(bomb)->width, width);
    EXPECT_FALSE(withinDecodeBound(*declaredImageSize(bomb)));
    EXPECT_TRUE(isError(copy(bomb), "bad_png")) << width << " x " << height;
    EXPECT_FALSE(decodeImage(bomb)) << width << " x " << height;
  }
  EXPECT_TRUE(clipboardUntouched());
  // Allocating the pixels of any of them would take at least 512 MiB.
  EXPECT_LT(procStatusKb("VmHWM") - baseline, 64 * 1024);
  // The bound lets every real screen through.
  EXPECT_TRUE(withinDecodeBound({7680, 4320}));
  EXPECT_TRUE(withinDecodeBound({1u << 27, 1}));
}

TEST_F(CopyPng, TheTiffIsMadeOnlyWhenReadAndAnImageInAnotherFormatIsOfferedAsAPng) {
  const ByteBuffer png = uniformPng(300, 200, 90);
  EXPECT_TRUE(isSuccess(copy(png), Value()));
  // Held as written: the PNG, and the TIFF still a promise.
  ASSERT_EQ(desktop().pasteboard().contents.size(), 1u);
  const PasteboardItem& held = desktop().pasteboard().contents[0];
  EXPECT_EQ(held.types(), (std::vector<std::string>{kPasteboardTypePNG, kPasteboardTypeTIFF}));
  ASSERT_EQ(held.promised.size(), 1u);
  EXPECT_FALSE(held.promised[0].second->made());
  // A reader gets the TIFF, made once and then kept.
  const ByteBuffer tiff = *desktop().pasteboard().items()[0].dataForType(kPasteboardTypeTIFF);
  EXPECT_TRUE(held.promised[0].second->made());
  EXPECT_EQ(*desktop().pasteboard().items()[0].dataForType(kPasteboardTypeTIFF), tiff);
  EXPECT_EQ(decodeTiff(tiff)->rgba, decodePng(png)->rgba);

  // A TIFF given to copy is offered as a PNG of its pixels, not as itself.
  const DecodedImage image{3, 1, {1, 2, 3, 255, 4, 5, 6, 128, 7, 8, 9, 0}};
  EXPECT_TRUE(isSuccess(copy(*encodeTiff(image)), Value()));
  auto items = desktop().pasteboard().items();
  ASSERT_EQ(items.size(), 1u);
  std::optional<DecodedImage> asPng = decodePng(*items[0].dataForType(kPasteboardTypePNG));
  ASSERT_TRUE(asPng);
  EXPECT_EQ(asPng->rgba, image.rgba);
  EXPECT_EQ(decodeTiff(*items[0].dataForType(kPasteboardTypeTIFF))->rgba, image.rgba);
}

TEST_F(CopyPng, CopiesAnswerAndReachTheClipboardInCallOrder) {
  // A slow copy, refused ones and a quick one, asked without waiting: the
  // quick one must not be overwritten by the slow one finishing later.
  const ByteBuffer slow = uniformPng(3840, 2160, 1);
  const ByteBuffer quick = uniformPng(2, 1, 2);
  FlutterMethodChannel ui("dravel/capture", &uiEnd());
  std::vector<std::string> answered;
  auto note = [&answered](std::string name) {
    return [&answered, name](MethodResponse r) {
      answered.push_back(name + (std::holds_alternative<Value>(r) ? " ok" : " refused"));
    };
  };
  ui.invokeMethod("copyPng", ValueMap{{"png", Value(slow)}}, note("slow"));
  ui.invokeMethod("copyPng", ValueMap{{"png", Value(ByteBuffer{1, 2, 3})}}, note("garbage"));
  ui.invokeMethod("copyPng", ValueMap{{"png", Value(pngDeclaring(16384, 16384))}}, note("bomb"));
  ui.invokeMethod("copyPng", ValueMap{{"png", Value(quick)}}, note("quick"));
  queue().runUntil([&] { return answered.size() == 4; }, 20.0);
  // A header declaring too much is answered at once; data of no known header
  // goes to the platform's decoder and is answered in turn.
  EXPECT_EQ(answered,
            (std::vector<std::string>{"bomb refused", "slow ok", "garbage refused", "quick ok"}));
  auto items = desktop().pasteboard().items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(*items[0].dataForType(kPasteboardTypePNG), quick);
  EXPECT_EQ(desktop().pasteboard().writes, 2);
  EXPECT_EQ(CaptureHandler::shared().copiesInFlight(), 0u);
}

TEST_F(CopyPng, ACopyForACallerThatHasGoneLeavesTheClipboardAlone) {
  auto requester = std::make_shared<Requester>();
  requester->markGone();
  ScopedRequester scope(requester);
  EXPECT_TRUE(isError(copy(uniformPng(64, 64, 9)), "bad_png"));
  EXPECT_TRUE(clipboardUntouched());
}

TEST_F(CopyPng, AbandonedCopiesNeverWriteTheClipboard) {
  FlutterMethodChannel ui("dravel/capture", &uiEnd());
  ui.invokeMethod("copyPng", ValueMap{{"png", Value(uniformPng(1920, 1080, 3))}},
                  [](MethodResponse) {});
  queue().runUntilIdle();
  CaptureHandler::shared().abandonCopies();
  EXPECT_EQ(CaptureHandler::shared().copiesInFlight(), 0u);
  // Whatever the abandoned lane was doing, it reaches neither the queue nor
  // the clipboard; a copy asked afterwards works.
  const ByteBuffer next = uniformPng(2, 2, 4);
  EXPECT_TRUE(isSuccess(copy(next), Value()));
  queue().runUntilIdle();
  auto items = desktop().pasteboard().items();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(*items[0].dataForType(kPasteboardTypePNG), next);
  EXPECT_EQ(desktop().pasteboard().writes, 1);
}

}  // namespace
}  // namespace dravel::testing
