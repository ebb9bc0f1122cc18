#include "host/mouse_cursors.h"

#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class MouseCursorsTest : public HostTest {
 protected:
  sim::SimObjectRuntime& runtime() { return desktop().objectRuntime(); }
};

// That the cursor reaches the X server at its size and scale, drawn, is the
// desktop cursor test's; which kind gets which diagonal is checked here.
TEST_F(MouseCursorsTest, DiagonalKindsGetTheDrawnCursorsOthersGoToTheEmbedding) {
  launch();
  const auto nwse = MouseCursors::northWestSouthEast();
  const auto nesw = MouseCursors::northEastSouthWest();
  ASSERT_NE(nesw, nwse);
  for (const char* kind : {"resizeUpLeftDownRight", "resizeUpLeft", "resizeDownRight"}) {
    EXPECT_EQ(runtime().cursorForKind(kind), nwse) << kind;
  }
  for (const char* kind : {"resizeUpRightDownLeft", "resizeUpRight", "resizeDownLeft"}) {
    EXPECT_EQ(runtime().cursorForKind(kind), nesw) << kind;
  }
  EXPECT_TRUE(runtime().embeddingLookups.empty());
  EXPECT_EQ(runtime().cursorForKind("click")->name(), "pointingHandCursor");
  EXPECT_EQ(runtime().embeddingLookups.size(), 1u);
}

}  // namespace
}  // namespace dravel::testing
