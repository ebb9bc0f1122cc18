#include "host/tray_shortcuts.h"

#include "host/badged_menu_item_view.h"
#include "platform/shared/menu.h"
#include "tests/platform/sim/sim_sections.h"
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

TEST_F(TrayShortcutsTest, ItemsGetTheirKeysAndModifierMasksAsTheyAreAdded) {
  setShortcuts({
      item("Both", "a", strings({"meta", "shift"})),
      item("WrongCase", "b", strings({"Meta"})),
      item("Twice", "c", strings({"meta", "meta"})),
      item("NoModifiers", "d"),
      item("Mixed", "e", ValueList{Value("meta"), Value(3)}),
      item("All", "f", strings({"control", "shift", "alt", "meta", "hyper"})),
      item("Dup", "g", strings({"alt"})),
      item("Dup", "h", strings({"control"})),
      item("", "i"),
  });
  auto menu =
      build(strings({"Both", "WrongCase", "Twice", "NoModifiers", "Mixed", "All", "Dup", ""}));
  const std::pair<const char*, uint64_t> expected[] = {
      {"a", 0x120000}, {"b", 0},        {"c", 0x100000}, {"d", 0},
      {"e", 0},        {"f", 0x1E0000}, {"h", 0x40000},  {"i", 0},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(at(menu, i).keyEquivalent(), expected[i].first) << i;
    EXPECT_EQ(at(menu, i).keyEquivalentModifierMask(), expected[i].second) << i;
    EXPECT_EQ(at(menu, i).view(), nullptr) << i;
  }
}

TEST_F(TrayShortcutsTest, MalformedItemsAreSkippedOneByOne) {
  setShortcuts({item("Keep", "k"), item("Gone", "x")});
  setShortcuts({
      item("Gone", ""),  // an empty key drops what the earlier update gave
      ValueMap{{"label", 5}, {"key", "n"}},
      ValueMap{{"key", "n"}},
      item("NumberKey", 7),
      item("Keep", "k"),
  });
  auto menu = build(strings({"Keep", "Gone", "NumberKey", "5"}));
  EXPECT_EQ(at(menu, 0).keyEquivalent(), "k");
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(at(menu, i).keyEquivalent(), "") << i;
    EXPECT_EQ(at(menu, i).keyEquivalentModifierMask(), kDefaultMask) << i;
  }
  EXPECT_EQ(TrayShortcuts::shared().byLabel().size(), 1u);
}

TEST_F(TrayShortcutsTest, OneMistypedElementEmptiesItsTableAndHintsNeverComeFromTheChannel) {
  const TrayShortcuts& tray = TrayShortcuts::shared();
  EXPECT_TRUE(isSuccess(
      capture("setTrayShortcuts", ValueMap{{"items", ValueList{item("Capture", "5"), 1}},
                                           {"badges", ValueMap{{"Capture", "7"}}},
                                           {"hints", ValueMap{{"Capture", "from the channel"}}}}),
      Value()));
  EXPECT_TRUE(tray.byLabel().empty());
  EXPECT_EQ(tray.badges(), (std::map<std::string, std::string>{{"Capture", "7"}}));
  EXPECT_TRUE(tray.hints().empty());
  setShortcuts({item("Quit", "q")}, {{"Capture", "7"}, {"Quit", 2}});
  EXPECT_EQ(tray.byLabel().size(), 1u);
  EXPECT_TRUE(tray.badges().empty());
  // Mistyped containers are absent too.
  EXPECT_TRUE(isSuccess(capture("setTrayShortcuts", ValueMap{{"items", ValueMap{}}, {"badges", 3}}),
                        Value()));
  EXPECT_TRUE(tray.byLabel().empty());
}

TEST_F(TrayShortcutsTest, BadgeTakesThePlaceOfAHintAndNeedsNoShortcut) {
  TrayShortcuts::shared().update({ValueMap{{"label", "Hinted"}, {"key", "h"}}},
                                 {{"Both", "2"}, {"BadgeOnly", "9"}},
                                 {{"Both", "hidden hint"}, {"Hinted", "Ctrl+H"}});
  auto menu = build(strings({"Both", "BadgeOnly", "Hinted", "Plain"}));

  // The one-line reading shows what each view was given.
  BadgedMenuItemView* both = badged(at(menu, 0));
  BadgedMenuItemView* hinted = badged(at(menu, 2));
  ASSERT_TRUE(both && badged(at(menu, 1)) && hinted);
  EXPECT_EQ(both->textLabel(), "Both (2)");
  EXPECT_EQ(badged(at(menu, 1))->textLabel(), "BadgeOnly (9)");
  EXPECT_EQ(hinted->textLabel(), "Hinted — Ctrl+H");
  EXPECT_EQ(at(menu, 3).view(), nullptr);
  EXPECT_EQ(at(menu, 2).keyEquivalent(), "h");

  // The views were stretched to the menu's width as it opened.
  EXPECT_EQ(both->frame().width, hinted->frame().width);
}

TEST_F(TrayShortcutsTest,
       OnlyMenusOfClassTrayMenuAreDecoratedModulePrefixAsideSubmenusByTheirOwnClass) {
  setShortcuts({item("Open", "o")}, {{"Open", "1"}});
  // The class is compared by its own name, whatever module qualifies it.
  auto qualified = build(strings({"Open"}), "tray_manager.TrayMenu");
  EXPECT_TRUE(badged(at(qualified, 0)));
  EXPECT_EQ(at(qualified, 0).keyEquivalent(), "o");
  for (const char* near : {"tray_manager.TrayMenuX", "TrayMenuExtra", "tray_manager.", "TrayMenu.",
                           "trayMenu", "tray_manager.NSMenu", "NSMenu"}) {
    auto menu = build(strings({"Open"}), near);
    EXPECT_EQ(at(menu, 0).view(), nullptr) << near;
    EXPECT_EQ(at(menu, 0).keyEquivalent(), "") << near;
  }

  auto menu = build(ValueList{
      ValueMap{{"label", "Open"},
               {"submenu", ValueMap{{"labels", strings({"Open"})}, {"className", "NSMenu"}}}},
      ValueMap{{"label", "More"},
               {"submenu", ValueMap{{"labels", strings({"Open"})}, {"className", "TrayMenu"}}}},
  });
  EXPECT_TRUE(badged(at(menu, 0)));
  EXPECT_EQ(at(menu, 0).submenu()->itemArray()[0]->view(), nullptr);
  EXPECT_EQ(at(menu, 0).submenu()->itemArray()[0]->keyEquivalent(), "");
  EXPECT_TRUE(badged(*at(menu, 1).submenu()->itemArray()[0]));
  EXPECT_EQ(at(menu, 1).submenu()->itemArray()[0]->keyEquivalent(), "o");
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

  auto second = build(strings({"Open"}));
  EXPECT_EQ(at(second, 0).keyEquivalent(), "p");
  EXPECT_EQ(at(second, 0).keyEquivalentModifierMask(), 0x20000u);
  EXPECT_EQ(at(second, 0).view(), nullptr);

  // No arguments empty the tables; items added afterwards stay plain.
  EXPECT_TRUE(isSuccess(capture("setTrayShortcuts"), Value()));
  auto third = build(strings({"Open"}));
  EXPECT_EQ(at(third, 0).keyEquivalent(), "");
  EXPECT_EQ(at(third, 0).view(), nullptr);

  // One observer, registered on the first update and kept.
  EXPECT_EQ(desktop().appNotificationCenter().liveObservers(), 1u);
}

// Something announced as a TrayMenu that is not a menu at all.
class NotAMenu : public AppObject {
 public:
  std::string className() const override { return "TrayMenu"; }
};

TEST_F(TrayShortcutsTest, NotificationsThatDoNotFitAreIgnored) {
  setShortcuts({item("Open", "o")}, {{"Open", "1"}});
  auto menu = Menu::create("", "TrayMenu");  // announces nothing by itself
  menu->addItem(MenuItem::create("Open"));
  auto& center = desktop().appNotificationCenter();
  auto post = [&](std::shared_ptr<AppObject> object, std::optional<ValueMap> info) {
    center.postNotification({kMenuDidAddItemNotification, std::move(object), std::move(info)});
  };
  post(menu, std::nullopt);
  post(menu, ValueMap{});
  post(menu, ValueMap{{"NSMenuItemIndex", "0"}});
  post(menu, ValueMap{{"NSMenuItemIndex", -1}});
  post(menu, ValueMap{{"NSMenuItemIndex", 1}});
  post(nullptr, ValueMap{{"NSMenuItemIndex", 0}});
  post(std::make_shared<NotAMenu>(), ValueMap{{"NSMenuItemIndex", 0}});
  EXPECT_EQ(at(menu, 0).view(), nullptr);

  post(menu, ValueMap{{"NSMenuItemIndex", 0}});
  EXPECT_EQ(at(menu, 0).keyEquivalent(), "o");
  EXPECT_TRUE(badged(at(menu, 0)));
}

TEST_F(TrayShortcutsTest, SimulatedTrayShowsTheDecorationAndTheClickEndToEnd) {
  setShortcuts({item("Capture", "4", strings({"meta", "shift"}))}, {{"Capture", "3"}});
  auto reply =
      runAction("buildTrayMenu", ValueMap{{"labels", strings({"Capture", "Quit"})}}, desktop());
  ASSERT_TRUE(reply);
  const Value& state = *successValue(*reply).at("state");
  const Value& first = (*state.at("items")->asList())[0];
  EXPECT_EQ(first.stringAt("keyEquivalent"), "4");
  EXPECT_EQ(first.intAt("modifierMask"), 0x120000);
  EXPECT_EQ(first.at("view")->stringAt("class"), "BadgedMenuItemView");
  EXPECT_TRUE((*state.at("items")->asList())[1].at("view")->isNull());

  EXPECT_TRUE(runAction("clickTrayItem", ValueMap{{"item", 0}}, desktop()));
  EXPECT_TRUE(desktop().tray().performed.empty());
  queue().runUntilIdle();
  EXPECT_EQ(desktop().tray().performed, std::vector<std::string>{"Capture"});
  EXPECT_FALSE(desktop().tray().menus.back()->isTracking());
}

}  // namespace
}  // namespace dravel::testing
