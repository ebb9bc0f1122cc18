// "copyPng" under hostile and large input: the declared size is refused
// before anything is allocated, decoding runs off the main thread, and
// copies reach the clipboard in the order they were asked.
#include <fstream>
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
  for (const Value& png : {Value("not bytes"), Value(truncated)}) {
    EXPECT_TRUE(isError(capture("copyPng", ValueMap{{"png", png}}), "bad_png"))
        << png.debugString();
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

// What the clipboard offers (the PNG as given, a TIFF made once, another
// format as a PNG of its pixels) is checked against xclip on the X desktop.

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
