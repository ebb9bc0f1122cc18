// Alerts and the folder chooser in a process without a display (GTK never
// started): they answer as the user would have dismissed them, without
// blocking.
#include <glib.h>
#include <gtest/gtest.h>

#include "channels/glib_main_queue.h"
#include "platform/linux/linux_alerts.h"
#include "platform/linux/linux_open_panel.h"

namespace dravel::linux_platform {
namespace {

TEST(DialogsWithoutADisplay, AnAlertIsAbortedAndAPanelCancelledLater) {
  GLibMainQueue queue;
  setMainQueue(&queue);

  GtkAlerts alerts;
  alerts.abortModal();  // nothing runs: nothing to end
  EXPECT_EQ(alerts.runModal({kAlertStyleCritical, "Disk full", "", {"OK", "Retry"}}),
            kModalResponseAbort);
  EXPECT_FALSE(queue.inModal());

  GtkOpenPanel panel;
  int calls = 0;
  int response = -1;
  std::optional<std::string> path = "unset";
  OpenPanelConfiguration folder;
  folder.canChooseDirectories = true;
  folder.canChooseFiles = false;
  const uint64_t first = panel.begin(folder, [&](int r, std::optional<std::string> p) {
    ++calls;
    response = r;
    path = std::move(p);
  });
  const uint64_t second = panel.begin(folder, [](int, std::optional<std::string>) {});
  EXPECT_NE(first, second);
  EXPECT_EQ(calls, 0);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(response, kModalResponseCancel);
  EXPECT_EQ(path, std::nullopt);
  panel.cancel(first);  // already closed
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(calls, 1);

  setMainQueue(nullptr);
}

}  // namespace
}  // namespace dravel::linux_platform
