#include "host/capture_handler.h"

#include "host/app_delegate.h"
#include "host/main_flutter_window.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using CaptureDispatch = LaunchedHostTest;

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
  EXPECT_EQ(desktop().workspace().revealed,
            std::vector<std::vector<std::string>>{{"file:///tmp/no%20such/shot.png"}});
}

TEST_F(CaptureDispatch, RequestPermissionAnswersWhatTheSystemSaid) {
  desktop().screenCaptureAccess().granted = false;
  EXPECT_TRUE(isSuccess(capture("requestPermission"), Value(false)));
  desktop().screenCaptureAccess().grantOnRequest = true;
  EXPECT_TRUE(isSuccess(capture("requestPermission"), Value(true)));
  EXPECT_EQ(desktop().screenCaptureAccess().requests, 2);
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

TEST_F(CaptureDispatch, WindowMethodsAnswerNullWithoutAWindowButEnterOverlayReportsIt) {
  host_.delegate->mainFlutterWindow.reset();
  host_.window.reset();
  for (const char* name : {"freezeOverlay", "exitOverlay", "setOverlayBelowMenus", "raiseWindow"}) {
    EXPECT_TRUE(isSuccess(capture(name, ValueMap{{"below", true}}), Value())) << name;
  }
  EXPECT_TRUE(isError(capture("enterOverlay", ValueMap{{"displayId", 1}}), "no_window"));
}

TEST_F(CaptureDispatch, ScreenUnderCursorWithoutAUsableScreenIsNoScreen) {
  desktop().screens().list.clear();
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
  desktop().screens().list = {std::make_shared<sim::SimScreen>(
      Rect{0, 0, 800, 600}, 1.0, ValueMap{{"NSScreenNumber", "one"}})};
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
}

}  // namespace
}  // namespace dravel::testing
