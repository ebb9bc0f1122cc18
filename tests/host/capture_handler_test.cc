#include "host/capture_handler.h"

#include "host/app_delegate.h"

#include "host/main_flutter_window.h"
#include "platform/image_codec.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class CaptureDispatch : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    launch();
  }
  static Value pngBytes() {
    DecodedImage image;
    image.width = 2;
    image.height = 1;
    image.rgba = {255, 0, 0, 255, 0, 0, 255, 128};
    return Value(*encodePng(image));
  }
};

TEST_F(CaptureDispatch, UnknownNamesAndOtherLetterCasesAreNotImplemented) {
  for (const char* name : {"noSuchMethod", "HasPermission", "capturescreen", "REVEALFILE", ""}) {
    auto reply = capture(name);
    EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(reply)) << name;
  }
}

TEST_F(CaptureDispatch, ArgumentsThatAreNotAMapActAsAnEmptyMap) {
  for (const Value& args :
       {Value(), Value(ValueList{Value("path")}), Value(42), Value(ValueMap{{"path", Value(7)}})}) {
    EXPECT_TRUE(isError(capture("revealFile", args), "bad_args", "path expected"))
        << args.debugString();
  }
  EXPECT_TRUE(desktop().workspace().revealed.empty());
}

TEST_F(CaptureDispatch, RevealFileSelectsTheFileWithoutCheckingItExists) {
  EXPECT_TRUE(
      isSuccess(capture("revealFile", ValueMap{{"path", "/tmp/no such/shot.png"}}), Value()));
  ASSERT_EQ(desktop().workspace().revealed.size(), 1u);
  EXPECT_EQ(desktop().workspace().revealed[0],
            std::vector<std::string>{"file:///tmp/no%20such/shot.png"});
}

TEST_F(CaptureDispatch, HasPermissionAsksOnlyThePreflightWhenItSaysNo) {
  desktop().screenCaptureAccess().granted = false;
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(false)));
  desktop().screenCaptureAccess().granted = true;
  EXPECT_TRUE(isSuccess(capture("hasPermission"), Value(true)));
  EXPECT_EQ(desktop().screenCaptureAccess().requests, 0);
}

TEST_F(CaptureDispatch, RequestPermissionAnswersWhatTheSystemSaid) {
  desktop().screenCaptureAccess().granted = false;
  EXPECT_TRUE(isSuccess(capture("requestPermission"), Value(false)));
  desktop().screenCaptureAccess().grantOnRequest = true;
  EXPECT_TRUE(isSuccess(capture("requestPermission"), Value(true)));
  EXPECT_EQ(desktop().screenCaptureAccess().requests, 2);
}

TEST_F(CaptureDispatch, CopyPngPutsOneItemWithTheUnchangedBytesAndATiff) {
  PasteboardItem old;
  old.setData("public.utf8-plain-text", {'h', 'i'});
  desktop().pasteboard().contents = {old, old};
  Value png = pngBytes();
  EXPECT_TRUE(isSuccess(capture("copyPng", ValueMap{{"png", png}}), Value()));
  auto items = desktop().pasteboard().items();
  ASSERT_EQ(items.size(), 1u);
  ASSERT_NE(items[0].dataForType(kPasteboardTypePNG), nullptr);
  EXPECT_EQ(*items[0].dataForType(kPasteboardTypePNG), **png.asBytes());
  const ByteBuffer* tiff = items[0].dataForType(kPasteboardTypeTIFF);
  ASSERT_NE(tiff, nullptr);
  auto decoded = decodeTiff(*tiff);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 2u);
  EXPECT_EQ(decoded->rgba[0], 255);
}

TEST_F(CaptureDispatch, CopyPngLeavesTheClipboardAloneOnBadInput) {
  PasteboardItem old;
  old.setData("public.utf8-plain-text", {'h', 'i'});
  desktop().pasteboard().contents = {old};
  ByteBuffer truncated = (*pngBytes().asBytes())->toBuffer();
  truncated.resize(truncated.size() / 2);
  for (const Value& args :
       {Value(), Value(ValueMap{{"png", "not bytes"}}),
        Value(ValueMap{{"png", ByteBuffer{1, 2, 3}}}), Value(ValueMap{{"png", truncated}}),
        Value(ValueMap{{"png", ByteBuffer{}}})}) {
    EXPECT_TRUE(isError(capture("copyPng", args), "bad_png")) << args.debugString();
  }
  EXPECT_EQ(desktop().pasteboard().contents, std::vector<PasteboardItem>{old});
  EXPECT_EQ(desktop().pasteboard().writes, 0);
}

TEST_F(CaptureDispatch, RaiseWindowShowsAndActivatesKeepingOtherCollectionBits) {
  window().setCollectionBehavior(kCollectionFullScreenAuxiliary);
  window().miniaturize();
  desktop().application().hidden = true;
  EXPECT_TRUE(isSuccess(capture("raiseWindow"), Value()));
  EXPECT_FALSE(desktop().application().hidden);
  EXPECT_EQ(window().deminiaturizeCount, 1);
  EXPECT_EQ(window().collectionBehavior(),
            uint64_t{kCollectionFullScreenAuxiliary | kCollectionMoveToActiveSpace});
  EXPECT_TRUE(window().isVisible());
  EXPECT_TRUE(window().isKey());
  EXPECT_EQ(desktop().application().activations, 1);
  EXPECT_EQ(window().alphaValue(), 0.0);  // alpha is not raiseWindow's business
}

TEST_F(CaptureDispatch, RaiseWindowDuringTheOverlayChangesNothing) {
  host_.window->overlayActive = true;
  EXPECT_TRUE(isSuccess(capture("raiseWindow"), Value()));
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(desktop().application().activations, 0);
  EXPECT_EQ(window().collectionBehavior(), 0u);
}

TEST_F(CaptureDispatch, WindowMethodsAnswerNullWithoutAWindowButEnterOverlayReportsIt) {
  host_.delegate->mainFlutterWindow.reset();
  host_.window.reset();
  for (const char* name : {"freezeOverlay", "exitOverlay", "setOverlayBelowMenus", "raiseWindow"}) {
    EXPECT_TRUE(isSuccess(capture(name, ValueMap{{"below", true}}), Value())) << name;
  }
  EXPECT_TRUE(isError(capture("enterOverlay", ValueMap{{"displayId", 1}}), "no_window"));
}

TEST_F(CaptureDispatch, ScreenUnderCursorAnswersTheGeometryMap) {
  desktop().screens().list = {sim::SimScreen::withDisplayId({0, 0, 1440, 900}, 2.0, 69733378)};
  desktop().input().pointer = {100, 800};
  Value expected(ValueMap{{"scale", 2.0},
                          {"displayId", 69733378},
                          {"screenX", 0.0},
                          {"screenY", 0.0},
                          {"screenW", 1440.0},
                          {"screenH", 900.0},
                          {"cursorX", 100.0},
                          {"cursorY", 100.0}});
  EXPECT_TRUE(isSuccess(capture("screenUnderCursor"), expected));
}

TEST_F(CaptureDispatch, ScreenUnderCursorWithoutAUsableScreenIsNoScreen) {
  desktop().screens().list.clear();
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
  desktop().screens().list = {std::make_shared<sim::SimScreen>(
      Rect{0, 0, 800, 600}, 1.0, ValueMap{{"NSScreenNumber", "one"}})};
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
}

TEST_F(CaptureDispatch, ProbeHotkeyAndTrayShortcutsNeverFailOnMistypedArguments) {
  EXPECT_TRUE(std::holds_alternative<Value>(
      capture("probeHotkey", ValueMap{{"keyCode", "x"}, {"modifiers", ValueList{Value(1)}}})));
  EXPECT_TRUE(isSuccess(
      capture("setTrayShortcuts", ValueMap{{"items", ValueList{Value(1)}}, {"badges", 3}}),
      Value()));
}

}  // namespace
}  // namespace dravel::testing
