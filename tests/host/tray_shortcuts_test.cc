#include "host/tray_shortcuts.h"

#include "host/badged_menu_item_view.h"
#include "platform/shared/menu.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr uint64_t kDefaultMask = 0x100000;  // a fresh item's modifier mask

Value item(const char* label, Value key, Value modifiers = Value()) {
  ValueMap m{{"label", label}, {"key", std::move(key)}};
  if (!modifiers.isNull()) m.set("modifiers", std::move(modifiers));
  return m;
}

ValueList strings(std::initializer_list<const char*> names) {
  ValueList list;
  for (const char* n : names) list.push_back(n);
  return list;
}

class TrayShortcutsTest : public LaunchedHostTest {
 protected:
  void setShortcuts(ValueList items, ValueMap badges = {}) {
    EXPECT_TRUE(isSuccess(capture("setTrayShortcuts", ValueMap{{"items", std::move(items)},
                                                               {"badges", std::move(badges)}}),
                          Value()));
  }
  std::shared_ptr<Menu> build(ValueList labels, const char* className = "TrayMenu") {
    auto menu = desktop().tray().buildMenu(
        ValueMap{{"labels", std::move(labels)}, {"className", className}});
    EXPECT_TRUE(menu);
    return menu;
  }
  static MenuItem& at(const std::shared_ptr<Menu>& menu, size_t i) {
    return *menu->itemArray().at(i);
  }
  static BadgedMenuItemView* badged(const MenuItem& item) {
    return dynamic_cast<BadgedMenuItemView*>(item.view().get());
  }
};

// Upper-case keys, each modifier and the folded labels are checked against a
// real panel by the desktop tray test.
TEST_F(TrayShortcutsTest, ItemsGetTheirKeysAndMasksAndMalformedOnesAreSkippedOneByOne) {
  setShortcuts({item("Gone", "x")});
  setShortcuts({
      item("Twice", "c", strings({"meta", "meta"})),
      item("All", "f", strings({"control", "shift", "alt", "meta", "hyper"})),
      item("Dup", "g", strings({"alt"})),
      item("Dup", "h", strings({"control"})),  // the later one wins
      item("Gone", ""),                        // an empty key drops what the earlier update gave
  });
  auto menu = build(strings({"Twice", "All", "Dup", "Gone"}));
  const std::pair<const char*, uint64_t> expected[] = {
      {"c", 0x100000}, {"f", 0x1E0000}, {"h", 0x40000}, {"", kDefaultMask}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(at(menu, i).keyEquivalent(), expected[i].first) << i;
    EXPECT_EQ(at(menu, i).keyEquivalentModifierMask(), expected[i].second) << i;
  }
  EXPECT_EQ(TrayShortcuts::shared().byLabel().size(), 3u);
}

TEST_F(TrayShortcutsTest, BadgeTakesThePlaceOfAHintAndNeedsNoShortcut) {
  TrayShortcuts::shared().update({ValueMap{{"label", "Hinted"}, {"key", "h"}}},
                                 {{"Both", "2"}, {"BadgeOnly", "9"}},
                                 {{"Both", "hidden hint"}, {"Hinted", "Ctrl+H"}});
  auto menu = build(strings({"Both", "BadgeOnly", "Hinted", "Plain"}));

  // The one-line reading shows what each view was given (a hint alone is
  // the desktop tray test's).
  BadgedMenuItemView* both = badged(at(menu, 0));
  ASSERT_TRUE(both && badged(at(menu, 1)) && badged(at(menu, 2)));
  EXPECT_EQ(both->textLabel(), "Both (2)");
  EXPECT_EQ(badged(at(menu, 1))->textLabel(), "BadgeOnly (9)");
  EXPECT_EQ(at(menu, 3).view(), nullptr);
}

TEST_F(TrayShortcutsTest, UpdatesReachOnlyMenusBuiltAfterThem) {
  auto before = build(strings({"Open"}));
  EXPECT_EQ(desktop().appNotificationCenter().registrations(), 0);
  EXPECT_EQ(at(before, 0).keyEquivalent(), "");

  setShortcuts({item("Open", "o")}, {{"Open", "1"}});
  auto first = build(strings({"Open"}));
  setShortcuts({item("Open", "p", strings({"shift"}))});
  EXPECT_EQ(at(first, 0).keyEquivalent(), "o");
  EXPECT_EQ(at(before, 0).view(), nullptr);

  EXPECT_EQ(at(build(strings({"Open"})), 0).keyEquivalent(), "p");

  // No arguments empty the tables; items added afterwards stay plain.
  EXPECT_TRUE(isSuccess(capture("setTrayShortcuts"), Value()));
  EXPECT_EQ(at(build(strings({"Open"})), 0).view(), nullptr);

  // One observer, registered on the first update and kept.
  EXPECT_EQ(desktop().appNotificationCenter().liveObservers(), 1u);
}

}  // namespace
}  // namespace dravel::testing
