// Alerts and the folder chooser on sway: each shows as a window of its own
// that sway focuses, by its title, and goes when the host ends it. (Keys
// typed with wtype reach GTK's windows but not its key bindings, Return and
// Escape included: answering by key is checked on X11.)
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "channels/glib_main_queue.h"
#include "platform/linux/session/linux_alerts.h"
#include "platform/linux/session/linux_open_panel.h"
#include "tests/support/host_process.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

// How sway lists the window titled `title`: "focused", "shown" or "none".
std::string swayState(const std::string& title) {
  std::string out;
  runCommand({"sh", "-c",
              "swaymsg -r -t get_tree | jq -r --arg t \"$0\" '[.. | objects | select(.name? == $t)"
              " | if .focused then \"focused\" else \"shown\" end] | first // \"none\"'",
              title},
             &out);
  return out.empty() ? "none" : out.substr(0, out.size() - 1);
}

class SwayDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(waylandTestDesktop(), "sway");
    gdk_set_allowed_backends("wayland");
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    setMainQueue(&queue_);
  }
  void TearDown() override { setMainQueue(nullptr); }
  GLibMainQueue queue_;
};

TEST_F(SwayDialogs, AlertsAndTheFolderChooserAreFocusedWindowsUntilTheHostEndsThem) {
  GtkAlerts alerts;
  bool seen = false;
  int ticks = 0;
  TimerId timer = 0;
  timer = queue_.addModalTimer(0.1, [&] {
    seen = seen || swayState("Replace it") == "focused";
    if (seen || ++ticks > 200) {
      queue_.cancelTimer(timer);
      alerts.abortModal();
    }
  });
  EXPECT_EQ(
      alerts.runModal(
          {kAlertStyleWarning, "Replace it", "Another copy is running.", {"Quit Other", "Cancel"}}),
      kModalResponseAbort);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(serveMainContextUntil([] { return swayState("Replace it") == "none"; }));

  GtkOpenPanel panel;
  OpenPanelConfiguration c;
  c.canChooseDirectories = true;
  c.canChooseFiles = false;
  int calls = 0;
  int response = 0;
  const uint64_t id = panel.begin(c, [&](int r, std::optional<std::string>) {
    ++calls;
    response = r;
  });
  ASSERT_TRUE(serveMainContextUntil([] { return swayState("Choose a Folder") == "focused"; }));
  panel.cancel(id);
  EXPECT_TRUE(
      serveMainContextUntil([&] { return calls == 1 && swayState("Choose a Folder") == "none"; }));
  EXPECT_EQ(response, kModalResponseCancel);
}

}  // namespace
}  // namespace dravel::linux_platform
