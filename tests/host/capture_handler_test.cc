#include "host/capture_handler.h"

#include "host/main_flutter_window.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using CaptureDispatch = LaunchedHostTest;

// The one argument-reading helper: arguments that are not a map act as an
// empty one. Revealing a file is checked against the file manager on the X
// desktop.
TEST_F(CaptureDispatch, ArgumentsThatAreNotAMapActAsAnEmptyMap) {
  for (const Value& args : {Value(ValueList{Value("path")}), Value(ValueMap{{"path", Value(7)}})}) {
    EXPECT_TRUE(isError(capture("revealFile", args), "bad_args", "path expected"))
        << args.debugString();
  }
  EXPECT_TRUE(desktop().workspace().revealed.empty());
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

TEST_F(CaptureDispatch, ScreenUnderCursorWithoutAScreenIsNoScreen) {
  desktop().screens().list.clear();
  EXPECT_TRUE(isError(capture("screenUnderCursor"), "no_screen"));
}

}  // namespace
}  // namespace dravel::testing
