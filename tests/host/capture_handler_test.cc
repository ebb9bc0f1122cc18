#include "host/capture_handler.h"

#include "host/app_delegate.h"

#include "host/main_flutter_window.h"
#include "host/tray_shortcuts.h"
#include "platform/shared/image_codec.h"
#include "platform/shared/menu.h"
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

// The system hotkey table: key 21 with meta+shift, key 0 with no modifiers.
void storeHotkeyTable(sim::SimDesktop& desktop) {
  auto entry = [](int64_t keyCode, int64_t mask) {
    return Value(ValueMap{
        {"enabled", 1},
        {"value", ValueMap{{"parameters", ValueList{65535, keyCode, mask}}}},
    });
  };
  desktop.userDefaults().store("com.apple.symbolichotkeys", "AppleSymbolicHotKeys",
                               Value(ValueMap{{"1", entry(21, 0x120000)}, {"2", entry(0, 0)}}));
}

TEST_F(CaptureDispatch, ProbeHotkeyForwardsKeyCodeAndModifiersAndAnswersTheProbe) {
  storeHotkeyTable(desktop());
  auto probe = [&](Value args) { return capture("probeHotkey", std::move(args)); };
  const ValueList metaShift{"meta", "shift"};
  EXPECT_TRUE(isSuccess(probe(ValueMap{{"keyCode", 21}, {"modifiers", metaShift}}), Value(false)));
  EXPECT_TRUE(
      isSuccess(probe(ValueMap{{"keyCode", 21}, {"modifiers", ValueList{"meta"}}}), Value(true)));
  EXPECT_TRUE(isSuccess(probe(ValueMap{{"keyCode", 22}, {"modifiers", metaShift}}), Value(true)));
  // Absent modifiers are the empty list: key 0 without modifiers is taken.
  EXPECT_TRUE(isSuccess(probe(ValueMap{{"keyCode", 0}}), Value(false)));
  // A list holding a non-string counts as absent as a whole, not as its strings.
  EXPECT_TRUE(isSuccess(probe(ValueMap{{"keyCode", 0}, {"modifiers", ValueList{"meta", 1}}}),
                        Value(false)));
  EXPECT_TRUE(isSuccess(
      probe(ValueMap{{"keyCode", 21}, {"modifiers", ValueList{"meta", "shift", 1}}}), Value(true)));
  // A key code beyond 32 bits is not cut down to key 21.
  EXPECT_TRUE(
      isSuccess(probe(ValueMap{{"keyCode", (int64_t{1} << 32) + 21}, {"modifiers", metaShift}}),
                Value(true)));
  const int readsSoFar = desktop().userDefaults().reads;

  // No key code (or one that is not an integer) is passed on as absent, not as
  // key 0: the probe has no answer and reads no table.
  for (const Value& args :
       {Value(ValueMap{}), Value(ValueMap{{"keyCode", "0"}}), Value(ValueMap{{"keyCode", 0.0}}),
        Value(ValueMap{{"keyCode", Value()}}), Value()}) {
    EXPECT_TRUE(isSuccess(probe(args), Value())) << args.debugString();
  }
  EXPECT_EQ(desktop().userDefaults().reads, readsSoFar);

  // No readable table: no answer.
  desktop().userDefaults().store("com.apple.symbolichotkeys", "AppleSymbolicHotKeys", std::nullopt);
  EXPECT_TRUE(isSuccess(probe(ValueMap{{"keyCode", 21}, {"modifiers", metaShift}}), Value()));
}

TEST_F(CaptureDispatch, SetTrayShortcutsHandsTheTablesToTheTray) {
  auto set = [&](Value args) { return capture("setTrayShortcuts", std::move(args)); };
  ASSERT_TRUE(isSuccess(
      set(ValueMap{{"items", ValueList{ValueMap{{"label", "Capture"},
                                                {"key", "4"},
                                                {"modifiers", ValueList{"meta", "shift"}}},
                                       ValueMap{{"label", "Quit"}, {"key", "q"}}}},
                   {"badges", ValueMap{{"Capture", "3"}}},
                   {"hints", ValueMap{{"Quit", "never from the channel"}}}}),
      Value()));
  const TrayShortcuts& tray = TrayShortcuts::shared();
  EXPECT_EQ(tray.byLabel(), (std::map<std::string, TrayShortcuts::Shortcut>{
                                {"Capture", {"4", 0x120000}}, {"Quit", {"q", 0}}}));
  EXPECT_EQ(tray.badges(), (std::map<std::string, std::string>{{"Capture", "3"}}));
  EXPECT_TRUE(tray.hints().empty());

  // A tray menu built now carries them.
  auto menu = desktop().tray().buildMenu(ValueMap{{"labels", ValueList{"Capture", "Quit"}}});
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->itemArray()[0]->keyEquivalent(), "4");
  EXPECT_EQ(menu->itemArray()[0]->keyEquivalentModifierMask(), 0x120000u);
  EXPECT_TRUE(menu->itemArray()[0]->view());
  EXPECT_EQ(menu->itemArray()[1]->keyEquivalent(), "q");
  EXPECT_FALSE(menu->itemArray()[1]->view());

  // One element that is not a map empties the item list; one value that is
  // not a string empties the badge map. Each falls back on its own.
  ASSERT_TRUE(
      isSuccess(set(ValueMap{{"items", ValueList{ValueMap{{"label", "Capture"}, {"key", "5"}}, 1}},
                             {"badges", ValueMap{{"Capture", "7"}}}}),
                Value()));
  EXPECT_TRUE(tray.byLabel().empty());
  EXPECT_EQ(tray.badges(), (std::map<std::string, std::string>{{"Capture", "7"}}));
  ASSERT_TRUE(
      isSuccess(set(ValueMap{{"items", ValueList{ValueMap{{"label", "Quit"}, {"key", "q"}}}},
                             {"badges", ValueMap{{"Capture", "7"}, {"Quit", 2}}}}),
                Value()));
  EXPECT_EQ(tray.byLabel(), (std::map<std::string, TrayShortcuts::Shortcut>{{"Quit", {"q", 0}}}));
  EXPECT_TRUE(tray.badges().empty());
  // Mistyped containers are absent too.
  ASSERT_TRUE(isSuccess(set(ValueMap{{"items", ValueMap{}}, {"badges", 3}}), Value()));
  EXPECT_TRUE(tray.byLabel().empty());
  EXPECT_TRUE(tray.badges().empty());

  auto plain = desktop().tray().buildMenu(ValueMap{{"labels", ValueList{"Capture", "Quit"}}});
  ASSERT_TRUE(plain);
  for (const auto& item : plain->itemArray()) {
    EXPECT_EQ(item->keyEquivalent(), "") << item->title();
    EXPECT_FALSE(item->view()) << item->title();
  }
}

}  // namespace
}  // namespace dravel::testing
