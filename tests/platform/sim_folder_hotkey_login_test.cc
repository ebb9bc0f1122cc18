// Scenario sections and actions of the simulated hotkey table, folder panel,
// bookmarks, login item and settings addresses.
#include "host/screen_recording_access.h"
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimBookmarks;

class SimSections : public HostTest {
 protected:
  static sim::ScenarioSection section(const std::string& key) {
    for (auto& s : sim::scenarioSections())
      if (s.key == key) return s;
    ADD_FAILURE() << "no section " << key;
    return {};
  }
  std::string load(const std::string& key, const Value& value) {
    return section(key).load(value, desktop());
  }
  Value state(const std::string& key) { return section(key).state(desktop()); }
  MethodResponse act(const std::string& name, Value args) {
    std::optional<MethodResponse> reply;
    for (auto& a : sim::simActions()) {
      if (a.name == name) {
        a.run(args, desktop(), FlutterResult(name, [&](MethodResponse r) { reply = std::move(r); }));
      }
    }
    queue().runUntilIdle();
    if (!reply) return FlutterError::errorWithCode("test_no_reply");
    return *reply;
  }
};

TEST_F(SimSections, BookmarkRecordCarriesAVersionedPath) {
  EXPECT_EQ(SimBookmarks::record("/a"), (ByteBuffer{'D', 'B', 'M', 'K', 1, 0, 0, 0, 2, '/', 'a'}));
  SimBookmarks& bookmarks = desktop().bookmarks();
  EXPECT_EQ(bookmarks.resolveBookmark(SimBookmarks::record("/a")),
            (std::variant<ResolvedBookmark, BookmarkError>(ResolvedBookmark{"/a", false})));
  ByteBuffer longer = SimBookmarks::record("/a");
  longer.push_back('b');
  ByteBuffer truncated = SimBookmarks::record("/abc");
  truncated.pop_back();
  for (const ByteBuffer& bad : {ByteBuffer{}, SimBookmarks::record(""), longer, truncated,
                                SimBookmarks::record("/a", 0), ByteBuffer{'D', 'B', 'M', 'K'}}) {
    EXPECT_TRUE(std::holds_alternative<BookmarkError>(bookmarks.resolveBookmark(bad)));
  }
  EXPECT_EQ(bookmarks.createBookmark(""), std::nullopt);
}

TEST_F(SimSections, BookmarksSectionSetsBehaviourAndReportsAccess) {
  EXPECT_EQ(load("bookmarks", ValueMap{{"stale", ValueList{"/s"}},
                                       {"unresolvable", ValueList{"/gone"}},
                                       {"uncreatable", ValueList{"/ro"}},
                                       {"refuseAccess", ValueList{"/no"}}}),
            "");
  SimBookmarks& bookmarks = desktop().bookmarks();
  EXPECT_EQ(std::get<ResolvedBookmark>(bookmarks.resolveBookmark(SimBookmarks::record("/s"))).stale, true);
  EXPECT_TRUE(std::holds_alternative<BookmarkError>(bookmarks.resolveBookmark(SimBookmarks::record("/gone"))));
  EXPECT_EQ(bookmarks.createBookmark("/ro"), std::nullopt);
  ASSERT_TRUE(bookmarks.createBookmark("/ok"));
  auto& access = desktop().securityScopedAccess();
  EXPECT_FALSE(access.startAccessing("/no"));
  EXPECT_TRUE(access.startAccessing("/ok"));
  EXPECT_EQ(state("bookmarks"),
            Value(ValueMap{{"created", ValueList{"/ok"}},
                           {"open", ValueList{"/ok"}},
                           {"access", ValueMap{{"/no", ValueMap{{"starts", 1}, {"grants", 0}, {"stops", 0}}},
                                               {"/ok", ValueMap{{"starts", 1}, {"grants", 1}, {"stops", 0}}}}}}));

  // A malformed section is refused and changes nothing.
  EXPECT_NE(load("bookmarks", ValueMap{{"stale", ValueList{}}, {"unresolvable", "/x"}}), "");
  EXPECT_EQ(bookmarks.stale.count("/s"), 1u);
  EXPECT_NE(load("bookmarks", Value(ValueList{})), "");
  // A fresh section forgets the accesses made so far.
  EXPECT_EQ(load("bookmarks", ValueMap{}), "");
  EXPECT_TRUE(access.counts.empty());
  EXPECT_TRUE(bookmarks.stale.empty());
}

TEST_F(SimSections, HotkeysSectionStoresTheTableAsGiven) {
  ValueMap table{{"32", ValueMap{{"enabled", 1}}}};
  EXPECT_EQ(load("hotkeys", Value(table)), "");
  EXPECT_EQ(desktop().userDefaults().dictionaryForKey("com.apple.symbolichotkeys", "AppleSymbolicHotKeys"),
            Value(table));
  EXPECT_EQ(state("hotkeys"), Value(table));
  // Something that is not a map is kept, but the platform reads it as no table.
  EXPECT_EQ(load("hotkeys", Value("garbage")), "");
  EXPECT_EQ(state("hotkeys"), Value("garbage"));
  EXPECT_EQ(desktop().userDefaults().dictionaryForKey("com.apple.symbolichotkeys", "AppleSymbolicHotKeys"),
            std::nullopt);
  EXPECT_EQ(load("hotkeys", Value()), "");
  EXPECT_EQ(state("hotkeys"), Value());
}

TEST_F(SimSections, SavePanelAnswersOnItsOwnOrWhenTheUserActs) {
  EXPECT_EQ(load("savePanel", ValueMap{{"answer", "/pics"}}), "");
  std::vector<std::pair<int, std::optional<std::string>>> closed;
  auto record = [&](int response, std::optional<std::string> path) { closed.emplace_back(response, path); };
  desktop().openPanel().begin({}, record);
  EXPECT_TRUE(closed.empty());  // never before begin returns
  queue().runUntilIdle();
  EXPECT_EQ(closed, (decltype(closed){{1, "/pics"}}));

  EXPECT_EQ(load("savePanel", ValueMap{{"answer", Value()}}), "");
  desktop().openPanel().begin({}, record);
  queue().runUntilIdle();
  EXPECT_EQ(closed.back(), (std::pair<int, std::optional<std::string>>{0, std::nullopt}));

  // Without an answer the panel waits for the user.
  EXPECT_EQ(load("savePanel", ValueMap{}), "");
  OpenPanelConfiguration folders;
  folders.canChooseDirectories = true;
  desktop().openPanel().begin(folders, record);
  queue().runUntilIdle();
  EXPECT_EQ(closed.size(), 2u);
  Value reported = state("savePanel");
  EXPECT_EQ(*reported.at("open"), Value(1));
  EXPECT_EQ(*reported.at("shown")->asList()->at(0).at("canChooseDirectories"), Value(true));
  EXPECT_TRUE(isSuccess(act("answerSavePanel", ValueMap{{"answer", "/docs"}, {"response", 1}}), Value(true)));
  EXPECT_EQ(closed.back(), (std::pair<int, std::optional<std::string>>{1, "/docs"}));
  EXPECT_TRUE(isSuccess(act("answerSavePanel", Value()), Value(false)));
  EXPECT_TRUE(isError(act("answerSavePanel", ValueMap{{"answer", 3}}), "bad_args",
                      "\"answer\" must be a folder path or null"));

  EXPECT_NE(load("savePanel", ValueMap{{"response", "ok"}}), "");
  EXPECT_NE(load("savePanel", Value(true)), "");
}

TEST_F(SimSections, LoginItemSectionSetsStatusAndRefusals) {
  EXPECT_EQ(load("loginItem", ValueMap{{"status", 2}, {"refuseRegister", "Needs approval"},
                                       {"refuseUnregister", Value()}}),
            "");
  auto& item = desktop().loginItem();
  EXPECT_EQ(item.status(), kLoginItemRequiresApproval);
  EXPECT_EQ(item.registerService(), "Needs approval");
  EXPECT_EQ(item.unregisterService(), std::nullopt);
  EXPECT_EQ(state("loginItem"),
            Value(ValueMap{{"status", 0}, {"registers", 1}, {"unregisters", 1}}));
  EXPECT_NE(load("loginItem", ValueMap{{"status", "enabled"}}), "");
  EXPECT_NE(load("loginItem", ValueMap{{"refuseRegister", 5}}), "");
  EXPECT_EQ(item.registers, 1);  // refused loads left the item alone
}

TEST_F(SimSections, SettingsSectionMakesAddressesUnopenableAndReportsTries) {
  launch();
  EXPECT_EQ(load("settings", ValueMap{{"unopenable", ValueList{ScreenRecordingAccess::kFirstSettingsAddress}}}),
            "");
  EXPECT_TRUE(isSuccess(capture("openSettings"), Value()));
  desktop().workspace().openURL("https://example.com/");
  EXPECT_EQ(state("settings"),
            Value(ValueMap{{"unopenable", ValueList{ScreenRecordingAccess::kFirstSettingsAddress}},
                           {"attempts", ValueList{ScreenRecordingAccess::kFirstSettingsAddress,
                                                  ScreenRecordingAccess::kSecondSettingsAddress}},
                           {"opened", ValueList{ScreenRecordingAccess::kSecondSettingsAddress}}}));
  EXPECT_NE(load("settings", ValueMap{{"unopenable", ValueList{1}}}), "");
}

}  // namespace
}  // namespace dravel::testing
