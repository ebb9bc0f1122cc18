// Scenario sections and actions of the simulated hotkey table, folder panel,
// bookmarks, login item and settings addresses.
#include <gmock/gmock.h>

#include "tests/platform/sim/sim_sections.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimBookmarks;
using ::testing::HasSubstr;
using Closed = std::pair<int, std::optional<std::string>>;

class SimSections : public HostTest {
 protected:
  std::string load(const std::string& key, const Value& value) {
    return loadSection(key, value, desktop());
  }
  MethodResponse act(const std::string& name, Value args) {
    std::optional<MethodResponse> reply = runAction(name, args, desktop());
    queue().runUntilIdle();
    return reply.value_or(FlutterError::errorWithCode("test_no_reply"));
  }
};

TEST_F(SimSections, BookmarkRecordCarriesAVersionedPathAndNothingElseResolves) {
  EXPECT_EQ(SimBookmarks::record("/a"), (ByteBuffer{'D', 'B', 'M', 'K', 1, 0, 0, 0, 2, '/', 'a'}));
  SimBookmarks& bookmarks = desktop().bookmarks();
  EXPECT_EQ(std::get<ResolvedBookmark>(bookmarks.resolveBookmark(SimBookmarks::record("/a"))),
            (ResolvedBookmark{"/a", false}));
  ByteBuffer longer = SimBookmarks::record("/a");
  longer.push_back('b');
  ByteBuffer truncated = SimBookmarks::record("/abc");
  truncated.pop_back();
  for (const ByteBuffer& bad : {ByteBuffer{}, SimBookmarks::record(""), longer, truncated,
                                SimBookmarks::record("/a", 0), ByteBuffer{'D', 'B', 'M', 'K'}}) {
    EXPECT_TRUE(std::holds_alternative<BookmarkError>(bookmarks.resolveBookmark(bad)));
  }
}

TEST_F(SimSections, ARefusedSectionChangesNothing) {
  ASSERT_EQ(load("bookmarks", ValueMap{{"stale", ValueList{"/s"}}}), "");
  EXPECT_EQ(load("bookmarks", ValueMap{{"stale", ValueList{}}, {"unresolvable", "/x"}}),
            "unresolvable: expected a list of paths");
  EXPECT_EQ(desktop().bookmarks().stale.count("/s"), 1u);
  ASSERT_EQ(load("loginItem", ValueMap{{"status", 2}, {"refuseRegister", "Needs approval"}}), "");
  EXPECT_EQ(load("loginItem", ValueMap{{"status", 1}, {"refuseUnregister", 5}}),
            "refuseUnregister: expected a string or null");
  EXPECT_THAT(load("loginItem", ValueMap{{"status", 4}}), HasSubstr("status"));
  EXPECT_EQ(desktop().loginItem().status(), kLoginItemRequiresApproval);
  EXPECT_EQ(desktop().loginItem().registerService(), "Needs approval");
  EXPECT_THAT(load("settings", ValueMap{{"unopenable", ValueList{1}}}), HasSubstr("unopenable"));
  EXPECT_THAT(load("savePanel", ValueMap{{"response", "ok"}}), HasSubstr("response"));
}

TEST_F(SimSections, HotkeysThatAreNotAMapAreKeptButReadAsNoTable) {
  EXPECT_EQ(load("hotkeys", Value("garbage")), "");
  EXPECT_EQ(desktop().userDefaults().storedValue(kSymbolicHotkeysSuite, kSymbolicHotkeysKey),
            Value("garbage"));
  EXPECT_EQ(desktop().userDefaults().dictionaryForKey(kSymbolicHotkeysSuite, kSymbolicHotkeysKey),
            std::nullopt);
  EXPECT_EQ(load("hotkeys", Value()), "");
  EXPECT_EQ(desktop().userDefaults().storedValue(kSymbolicHotkeysSuite, kSymbolicHotkeysKey),
            std::nullopt);
}

TEST_F(SimSections, SavePanelAnswersOnItsOwnOrWaitsForTheUser) {
  std::vector<Closed> closed;
  auto record = [&](int response, std::optional<std::string> path) {
    closed.emplace_back(response, path);
  };
  EXPECT_EQ(load("savePanel", ValueMap{{"answer", "/pics"}}), "");
  desktop().openPanel().begin({}, record);
  EXPECT_TRUE(closed.empty());  // never before begin returns
  queue().runUntilIdle();
  EXPECT_EQ(closed, std::vector<Closed>{Closed(1, "/pics")});

  EXPECT_EQ(load("savePanel", ValueMap{}), "");
  desktop().openPanel().begin({}, record);
  desktop().openPanel().begin({}, record);
  queue().runUntilIdle();
  EXPECT_EQ(closed.size(), 1u);
  EXPECT_TRUE(isSuccess(act("answerSavePanel", ValueMap{{"answer", "/docs"}}), Value(true)));
  EXPECT_TRUE(isSuccess(act("answerSavePanel", ValueMap{{"answer", Value()}}), Value(true)));
  EXPECT_TRUE(isSuccess(act("answerSavePanel", Value()), Value(false)));
  EXPECT_EQ(closed,
            (std::vector<Closed>{Closed(1, "/pics"), Closed(1, "/docs"), Closed(0, std::nullopt)}));
}

}  // namespace
}  // namespace dravel::testing
