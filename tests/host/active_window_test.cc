#include "host/capture_handler.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr int kOwnPid = 4100;
constexpr int kFront = 700;
constexpr int kOther = 800;

ValueMap with(ValueMap map, const char* key, Value value) {
  map.set(key, std::move(value));
  return map;
}

class ActiveWindow : public LaunchedHostTest {
 protected:
  void SetUp() override {
    LaunchedHostTest::SetUp();
    useTwoScreens();
    desktop().processInfo().pid = kOwnPid;
    desktop().workspace().frontmostPid = kFront;
  }
  void windows(std::vector<ValueMap> entries) {
    desktop().windowList().entries.clear();
    for (auto& e : entries) desktop().windowList().entries.emplace_back(std::move(e));
  }
  // winX, winY, winW, winH and the display id of the answer, or nothing.
  std::optional<std::array<double, 5>> found() {
    std::optional<ValueMap> map = CaptureHandler::activeWindow();
    if (!map) return std::nullopt;
    Value v(*map);
    EXPECT_EQ(map->size(), 12u);
    return std::array<double, 5>{*v.doubleAt("winX"), *v.doubleAt("winY"), *v.doubleAt("winW"),
                                 *v.doubleAt("winH"), static_cast<double>(*v.intAt("displayId"))};
  }
};

using Found = std::array<double, 5>;

TEST_F(ActiveWindow, TheFrontmostWindowOnThePrimaryScreen) {
  windows({windowAt(kFront, {100, 50, 800, 600})});
  EXPECT_EQ(found(), (Found{100, 50, 800, 600, 1}));
  EXPECT_EQ(successValue(capture("activeWindow")).doubleAt("winY"), 50.0);
  EXPECT_EQ(desktop().windowList().lastOption, 17u);
  EXPECT_EQ(desktop().windowList().lastRelativeTo, 0u);
}

TEST_F(ActiveWindow, AWindowLinedUpWithAWholeScreenReportsTheScreen) {
  windows({windowAt(kFront, {-1920, -180, 1920, 1050})});
  EXPECT_EQ(found(), (Found{0, 0, 1920, 1080, 2}));
  // Within one point in x, y and width; the height is not compared.
  windows({windowAt(kFront, {-1919, -179, 1921, 300})});
  EXPECT_EQ(found(), (Found{0, 0, 1920, 1080, 2}));
  windows({windowAt(kFront, {-1918, -180, 1920, 1050})});
  EXPECT_EQ(found(), (Found{2, 0, 1920, 1050, 2}));
}

TEST_F(ActiveWindow, AScreenSizedWindowBehindTheFrontOneWins) {
  desktop().workspace().frontmostPid.reset();
  // Any owner qualifies now, but only the first candidate's owner may match.
  windows({windowAt(kFront, {100, 50, 800, 600}), windowAt(kOther, {-1920, -180, 1920, 1080})});
  EXPECT_EQ(found(), (Found{100, 50, 800, 600, 1}));
  desktop().workspace().frontmostPid = kFront;
  windows({windowAt(kFront, {100, 50, 800, 600}), windowAt(kOther, {-1920, -180, 1920, 1080}),
           windowAt(kFront, {-1920, -180, 1920, 1080})});
  EXPECT_EQ(found(), (Found{0, 0, 1920, 1080, 2}));
  // Screens are tried in their order, whatever the order of the windows.
  windows({windowAt(kFront, {-1920, -180, 1920, 1080}), windowAt(kFront, {0, 0, 1440, 875})});
  EXPECT_EQ(found(), (Found{0, 0, 1440, 900, 1}));
}

TEST_F(ActiveWindow, TheWindowTestSkipsSmallTransparentForeignAndOwnWindows) {
  windows({windowAt(kOwnPid, {10, 10, 500, 500}),
           with(windowAt(kFront, {0, 0, 500, 500}), "kCGWindowLayer", 25),
           windowAt(kFront, {0, 0, 39.9, 500}),
           with(windowAt(kFront, {0, 0, 500, 500}), "kCGWindowAlpha", 0.0),
           windowAt(kOther, {0, 0, 500, 500}), windowAt(kFront, {200, 100, 40, 40})});
  EXPECT_EQ(found(), (Found{200, 100, 40, 40, 1}));
}

TEST_F(ActiveWindow, AFrontApplicationWithoutAQualifyingWindowGivesNothing) {
  windows({windowAt(kOther, {100, 50, 800, 600}), windowAt(kFront, {0, 0, 1440, 24})});
  EXPECT_EQ(found(), std::nullopt);
}

TEST_F(ActiveWindow, WhenTheHostIsFrontAnyOtherApplicationCounts) {
  desktop().workspace().frontmostPid = kOwnPid;
  windows({windowAt(kOwnPid, {0, 0, 800, 600}), windowAt(kOther, {100, 50, 800, 600})});
  EXPECT_EQ(found(), (Found{100, 50, 800, 600, 1}));
  // The host's own main window, listed by the window server, is never chosen.
  capture("raiseWindow");
  EXPECT_EQ(found(), (Found{100, 50, 800, 600, 1}));
}

TEST_F(ActiveWindow, AStraddlingWindowLandsWhereItsCentreIs) {
  windows({windowAt(kFront, {-300, 100, 400, 300})});  // centre at x -100: the left screen
  EXPECT_EQ(found(), (Found{1620, 280, 400, 300, 2}));
  // Centre in no screen, but overlapping the primary.
  windows({windowAt(kFront, {1300, 850, 400, 300})});
  EXPECT_EQ(found(), (Found{1300, 850, 400, 300, 1}));
  // Nowhere near a screen.
  windows({windowAt(kFront, {5000, 5000, 400, 300})});
  EXPECT_EQ(found(), std::nullopt);
}

}  // namespace
}  // namespace dravel::testing
