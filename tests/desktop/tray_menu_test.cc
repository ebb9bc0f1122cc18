// The tray menu as a panel sees it: the interface's plugin (a stand-in here)
// builds a plain GtkMenu for an application indicator, and the host's
// decorations must reach the D-Bus menu the indicator exports. A stand-in
// StatusNotifierWatcher takes the indicator's registration; gdbus reads the
// menu's layout and clicks items, as a panel would.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "channels/glib_main_queue.h"
#include "channels/in_process_messenger.h"
#include "host/tray_shortcuts.h"
#include "platform/linux/session/linux_tray_menus.h"
#include "tests/support/host_process.h"
#include "tests/support/real_desktop.h"
#include "tests/support/status_notifier_watcher.h"
#include "tests/support/tray_stand_in.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

// One entry of a dbusmenu layout, with its id, its label, and its line as
// summary() gives it: "label | shortcut" ("-" without one), a separator as
// "---".
struct LayoutItem {
  gint32 id = -1;
  std::string label, line;
  std::vector<LayoutItem> children;
};

LayoutItem layoutItem(GVariant* entry) {
  LayoutItem item;
  GVariant* properties = nullptr;
  GVariant* children = nullptr;
  g_variant_get(entry, "(i@a{sv}@av)", &item.id, &properties, &children);
  const gchar* text = nullptr;
  if (g_variant_lookup(properties, "label", "&s", &text)) item.label = text;
  if (g_variant_lookup(properties, "type", "&s", &text) && g_strcmp0(text, "separator") == 0) {
    item.line = "---";
  } else {
    GVariant* shortcut = g_variant_lookup_value(properties, "shortcut", nullptr);
    gchar* printed = shortcut ? g_variant_print(shortcut, FALSE) : g_strdup("-");
    item.line = item.label + " | " + printed;
    g_free(printed);
    if (shortcut) g_variant_unref(shortcut);
  }
  GVariantIter iter;
  g_variant_iter_init(&iter, children);
  for (GVariant* child; g_variant_iter_next(&iter, "v", &child); g_variant_unref(child)) {
    item.children.push_back(layoutItem(child));
  }
  g_variant_unref(properties);
  g_variant_unref(children);
  return item;
}

// The lines of an entry's children.
std::vector<std::string> summary(const LayoutItem& parent) {
  std::vector<std::string> out;
  for (const LayoutItem& c : parent.children) out.push_back(c.line);
  return out;
}

// The menu of trayEntries() as the panel must see it: shortcuts from the
// interface's table (an upper-case key equivalent means shift, command is
// Super), a hint folded into the label in the shortcut's place, a badge
// folded in beside the shortcut.
const std::vector<std::string> kDecoratedMenu = {"Capture Area | [['Control', 'Shift', '4']]",
                                                 "Record \u2014 Ctrl+Shift+5 | -",
                                                 "---",
                                                 " | -",
                                                 "Updates (3) | [['Alt', 'u']]",
                                                 "Settings | [['Shift', 'Super', 's']]",
                                                 "Recent | -",
                                                 "Attached | -",
                                                 "Quit | -"};

class TrayMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    setMainQueue(&queue_);
    auto [hostEnd, uiEnd] = InProcessMessenger::makePair();
    hostEnd_ = hostEnd;
    uiEnd_ = uiEnd;
    std::string why;
    desktop_ = makeRealDesktop(hostEnd_, &why);
    ASSERT_TRUE(desktop_) << why;
    setPlatform(desktop_.get());
    // The interface's tables, as "setTrayShortcuts" gives them.
    TrayShortcuts::resetForTesting();
    TrayShortcuts::shared().update(
        {ValueMap{{"label", Value("Capture Area")},
                  {"key", Value("4")},
                  {"modifiers", Value(ValueList{Value("control"), Value("shift")})}},
         ValueMap{{"label", Value("Settings")},
                  {"key", Value("S")},
                  {"modifiers", Value(ValueList{Value("meta")})}},
         ValueMap{{"label", Value("Updates")},
                  {"key", Value("u")},
                  {"modifiers", Value(ValueList{Value("alt")})}}},
        {{"Updates", "3"}}, {{"Record", "Ctrl+Shift+5"}});
  }
  void TearDown() override {
    // Whatever the indicator lets go of on a later turn goes first.
    serveMainContextUntil([] { return false; }, 0.2);
    TrayShortcuts::resetForTesting();
    setPlatform(nullptr);
    desktop_.reset();
    setMainQueue(nullptr);
  }

  // Runs gdbus while this process serves the bus (the indicator is in it);
  // what it printed, or empty with a failure.
  std::string gdbus(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"gdbus", "call", "--session"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string out, err;
    EXPECT_TRUE(runWhileServing(argv, &out, &err)) << err;
    return out;
  }

  // The registered item's menu layout, as GetLayout gives it.
  LayoutItem layout(const StatusNotifierWatcher::Item& item) {
    const std::string menuReply =
        gdbus({"--dest", item.busName(), "--object-path", item.objectPath(), "--method",
               "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierItem", "Menu"});
    // "(<objectpath '/org/ayatana/NotificationItem/.../Menu'>,)"
    const size_t start = menuReply.find("'/"), end = menuReply.rfind('\'');
    if (start == std::string::npos || end <= start) {
      ADD_FAILURE() << "no menu path in " << menuReply;
      return {};
    }
    menuPath_ = menuReply.substr(start + 1, end - start - 1);
    menuBus_ = item.busName();

    const std::string text = gdbus({"--dest", menuBus_, "--object-path", menuPath_, "--method",
                                    "com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]"});
    GVariant* layoutReply =
        g_variant_parse(G_VARIANT_TYPE("(u(ia{sv}av))"), text.c_str(), nullptr, nullptr, nullptr);
    if (!layoutReply) {
      ADD_FAILURE() << "cannot read the layout " << text;
      return {};
    }
    GVariant* root = g_variant_get_child_value(layoutReply, 1);
    LayoutItem result = layoutItem(root);
    g_variant_unref(root);
    g_variant_unref(layoutReply);
    return result;
  }

  // A panel's click on the item `id` of the last menu read.
  void click(int id) {
    gdbus({"--dest", menuBus_, "--object-path", menuPath_, "--method",
           "com.canonical.dbusmenu.Event", std::to_string(id), "clicked", "<int32 0>", "0"});
  }

  // Waits for an indicator to register with `watcher`, started if it is not
  // yet; the latest registration.
  const StatusNotifierWatcher::Item* registeredWith(StatusNotifierWatcher& watcher) {
    if (!watcher.started() && !watcher.start()) {
      ADD_FAILURE() << "the watcher did not get its name on the session bus";
      return nullptr;
    }
    if (!serveMainContextUntil([&] { return !watcher.registrations().empty(); })) {
      ADD_FAILURE() << "the indicator never registered";
      return nullptr;
    }
    return &watcher.registrations().back();
  }

  GLibMainQueue queue_;
  std::shared_ptr<InProcessMessenger> hostEnd_;
  std::shared_ptr<InProcessMessenger> uiEnd_;
  std::unique_ptr<Platform> desktop_;
  std::string menuBus_;
  std::string menuPath_;
};

std::vector<TrayEntry> trayEntries() {
  return {TrayEntry::item("Capture Area"), TrayEntry::item("Record"), TrayEntry::separator(),
          TrayEntry::unlabeled(), TrayEntry::item("Updates"), TrayEntry::item("Settings"),
          // Filled while free-standing, then set on its item: a tray menu too.
          TrayEntry::submenu("Recent", {TrayEntry::item("Capture Area")}),
          // Set on its item first: never touched.
          TrayEntry::submenu("Attached", {TrayEntry::item("Settings"), TrayEntry::item("Record")},
                             true),
          TrayEntry::item("Quit")};
}

TEST_F(TrayMenu, TheMirrorFollowsTheMenuActsOnItsItemsAndMapsItsKeyEquivalents) {
  TrayStandIn tray(
      {TrayEntry::item("Capture Area"), TrayEntry::separator(), TrayEntry::item("Quit")});
  std::shared_ptr<Menu> mirror = LinuxTrayMenus::mirrorOf(tray.menu());
  ASSERT_TRUE(mirror);
  ASSERT_EQ(mirror->numberOfItems(), 3);
  // The mirror's action is the GTK item's (the panel test sees the labels,
  // shortcuts and clicks).
  mirror->performActionForItemAtIndex(2);
  EXPECT_EQ(tray.activated, std::vector<std::string>{"Quit"});

  // Once the GTK item is gone, its mirror's action does nothing.
  GtkWidget* quit = tray.itemAt(2);
  gtk_widget_destroy(quit);
  mirror->performActionForItemAtIndex(2);
  EXPECT_EQ(tray.activated.size(), 1u);

  // Key equivalents beyond ASCII (the panel test covers each modifier and
  // an upper-case letter): the character's own key, upper case with shift;
  // a byte that is no character makes none.
  using A = LinuxTrayMenus::Accelerator;
  EXPECT_EQ(LinuxTrayMenus::acceleratorFor("\u00c9", TrayShortcuts::kControlMask),
            (A{GDK_KEY_eacute, GDK_CONTROL_MASK | GDK_SHIFT_MASK}));
  EXPECT_EQ(LinuxTrayMenus::acceleratorFor("\xff", TrayShortcuts::kControlMask), std::nullopt);
}

// The panel is there before the application, as it usually is; it quits and
// comes back.
TEST_F(TrayMenu, PanelSeesShortcutsAndFoldedLabelsClicksRunTheItemsAndAWatcherBackGetsThemAgain) {
  auto watcher = std::make_unique<StatusNotifierWatcher>();
  ASSERT_TRUE(watcher->start());
  TrayStandIn tray(trayEntries());
  const StatusNotifierWatcher::Item* first = registeredWith(*watcher);
  ASSERT_TRUE(first);
  const std::string busName = first->busName();
  EXPECT_TRUE(
      serveMainContextUntil([&] { return !tray.connections.empty() && tray.connections.back(); }));
  const LayoutItem exported = layout(*first);
  ASSERT_EQ(summary(exported), kDecoratedMenu) << "the menu as exported";
  // The submenu filled before it was set on its item ("Recent") was
  // decorated; the one attached to its item first is as the plugin left it.
  EXPECT_EQ(summary(exported.children[6]),
            std::vector<std::string>{"Capture Area | [['Control', 'Shift', '4']]"});
  EXPECT_EQ(summary(exported.children[7]),
            (std::vector<std::string>{"Settings | -", "Record | -"}));
  // Clicks in the panel run the items, decorated or not.
  click(exported.children[4].id);
  click(exported.children[8].id);
  EXPECT_TRUE(serveMainContextUntil([&] { return tray.activated.size() >= 2; }));
  EXPECT_EQ(tray.activated, (std::vector<std::string>{"Updates", "Quit"}));

  // The panel quits: nobody owns the watcher's name any more.
  watcher.reset();
  EXPECT_TRUE(serveMainContextUntil([] { return !busNameOwned("org.kde.StatusNotifierWatcher"); }));
  // The indicator falls back to a tray icon of its own.
  EXPECT_TRUE(
      serveMainContextUntil([&] { return !tray.connections.empty() && !tray.connections.back(); }));

  // It comes back: the indicator registers again, with the menu as it was.
  StatusNotifierWatcher again;
  const StatusNotifierWatcher::Item* second = registeredWith(again);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->busName(), busName);
  EXPECT_TRUE(serveMainContextUntil([&] { return tray.connections.back(); }));
  const LayoutItem root = layout(*second);
  ASSERT_EQ(summary(root), kDecoratedMenu);
  click(root.children[0].id);
  EXPECT_TRUE(serveMainContextUntil([&] { return tray.activated.size() >= 3; }));
  EXPECT_EQ(tray.activated, (std::vector<std::string>{"Updates", "Quit", "Capture Area"}));

  // A menu built again (the plugin rebuilds it for every change) is
  // decorated again.
  // The indicator library now and then loses a new indicator's bus
  // connection under load (a GIO critical, and no registration): another is
  // made then.
  std::unique_ptr<TrayStandIn> rebuilt;
  for (int attempt = 0; attempt < 3 && again.registrations().size() < 2; ++attempt) {
    rebuilt = std::make_unique<TrayStandIn>(std::vector<TrayEntry>{TrayEntry::item("Updates")},
                                            "dravel-tray-rebuilt-" + std::to_string(attempt));
    serveMainContextUntil([&] { return again.registrations().size() >= 2; }, 7);
  }
  ASSERT_GE(again.registrations().size(), 2u);
  const LayoutItem other = layout(again.registrations().back());
  EXPECT_EQ(summary(other), std::vector<std::string>{"Updates (3) | [['Alt', 'u']]"});
}

}  // namespace
}  // namespace dravel::linux_platform
