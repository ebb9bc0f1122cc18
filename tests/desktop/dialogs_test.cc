// Modal alerts and the folder chooser as the user meets them: xdotool finds
// the dialogs by their titles and types into them, as a person would.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <tuple>

#include "channels/glib_main_queue.h"
#include "platform/linux/session/linux_alerts.h"
#include "platform/linux/session/linux_open_panel.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    setMainQueue(&queue_);
    dir_ = ::testing::TempDir() + "dialogs-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    for (pid_t pid : helpers_) stopProcess(pid);
    for (guint id : watches_)
      if (g_main_context_find_source_by_id(nullptr, id)) g_source_remove(id);
    if (HasFailure()) std::cerr << "xdotool: " << readFile(dir_ + "/xdotool.err") << "\n";
    setMainQueue(nullptr);
    std::filesystem::remove_all(dir_);
  }

  // Runs xdotool in the background: it waits for the window named `title`,
  // activates it, waits until GTK in this process reports the window active
  // (keys that come before GTK has taken the focus in are dropped, and on a
  // loaded machine that takes longer than any fixed pause), and then runs
  // each of `steps` (xdotool arguments) as an xdotool of its own, half a
  // second apart. A separate xdotool, for one chained to the search sends its
  // keys to the window found as synthetic events, which GTK ignores; and a
  // pause before each, for the location entry's completion takes a Return
  // typed right after the text.
  void typeInto(const std::string& title, const std::vector<std::vector<std::string>>& steps) {
    auto quoted = [](const std::string& text) {
      std::string out = "'";
      for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
      return out + "'";
    };
    // Built by appending: g++ 12 at -O3 misreads "literal" + string (-Wrestrict).
    std::string pattern = "^";
    pattern.append(title).append("$");
    std::string script = "xdotool search --sync --onlyvisible --name ";
    script.append(quoted(pattern)).append(" windowactivate --sync %1");
    const std::string active = dir_ + "/active-" + std::to_string(++typed_);
    reportWhenActive(title, active);
    script.append(" && while [ ! -e ").append(quoted(active)).append(" ]; do sleep 0.05; done");
    for (const auto& step : steps) {
      script += " && sleep 0.5 && xdotool";
      for (const auto& argument : step) script.append(" ").append(quoted(argument));
    }
    helpers_.push_back(spawn({"sh", "-c", script}, dir_ + "/xdotool.out", dir_ + "/xdotool.err"));
  }

  // Creates the file `path` once a window of this process titled `title` is
  // the active one, as GTK sees it; the check runs on the main context, so
  // also inside modal loops.
  void reportWhenActive(const std::string& title, const std::string& path) {
    struct Watch {
      std::string title, path;
    };
    auto check = [](gpointer data) -> gboolean {
      const auto* watch = static_cast<const Watch*>(data);
      GList* windows = gtk_window_list_toplevels();
      bool active = false;
      for (GList* item = windows; item && !active; item = item->next) {
        GtkWindow* window = GTK_WINDOW(item->data);
        const char* name = gtk_window_get_title(window);
        active = name && watch->title == name && gtk_window_is_active(window);
      }
      g_list_free(windows);
      if (!active) return G_SOURCE_CONTINUE;
      std::ofstream(watch->path).flush();
      return G_SOURCE_REMOVE;
    };
    watches_.push_back(g_timeout_add_full(G_PRIORITY_DEFAULT, 50, check, new Watch{title, path},
                                          [](gpointer data) { delete static_cast<Watch*>(data); }));
  }

  static bool shown(const std::string& title) { return windowsShown(title) > 0; }

  // Runs an alert, aborting it after 20 s so that a dialog nobody answers
  // fails the test instead of hanging it.
  long runAlert(GtkAlerts& alerts, const AlertContent& alert) {
    bool ran = false;
    queue_.asyncAfter(20, [&] {
      if (!ran) alerts.abortModal();
    });
    const long response = alerts.runModal(alert);
    ran = true;
    return response;
  }

  GLibMainQueue queue_;
  std::string dir_;
  std::vector<pid_t> helpers_;
  std::vector<guint> watches_;
  int typed_ = 0;
};

AlertContent question(const std::string& title) {
  return {kAlertStyleWarning, title, "Another copy is running.", {"Quit Other", "Cancel"}};
}

TEST_F(Dialogs, AlertAnswersTheButtonPressedOrAbortsOnEscapeAndGoesAway) {
  GtkAlerts alerts;
  // Return, the second button reached from the default one, Escape.
  const std::vector<std::tuple<const char*, std::vector<std::vector<std::string>>, long>> cases = {
      {"Replace it", {{"key", "Return"}}, kAlertFirstButtonReturn},
      {"Replace it again", {{"key", "Right"}, {"key", "Return"}}, kAlertFirstButtonReturn + 1},
      {"Close me", {{"key", "Escape"}}, kModalResponseAbort}};
  for (const auto& [title, keys, response] : cases) {
    typeInto(title, keys);
    EXPECT_EQ(runAlert(alerts, question(title)), response) << title;
    EXPECT_TRUE(serveMainContextUntil([t = std::string(title)] { return !shown(t); })) << title;
  }
}

TEST_F(Dialogs, ModalTimersRunDuringAnAlertAndNestedAlertsEachAnswerTheirOwn) {
  GtkAlerts alerts;
  int ticks = 0;
  bool sawDialog = false;
  TimerId timer = 0;
  timer = queue_.addModalTimer(0.05, [&] {
    ++ticks;
    if (!sawDialog) sawDialog = shown("Waiting");
    if (sawDialog && ticks >= 3) {
      queue_.cancelTimer(timer);
      alerts.abortModal();
    }
  });
  EXPECT_EQ(runAlert(alerts, question("Waiting")), kModalResponseAbort);
  EXPECT_TRUE(sawDialog);
  EXPECT_GE(ticks, 3);
  EXPECT_FALSE(queue_.inModal());
  EXPECT_TRUE(serveMainContextUntil([] { return !shown("Waiting"); }));

  long inner = 0;
  bool started = false;
  queue_.asyncAfter(0, [&] {
    if (started) return;
    started = true;
    typeInto("Inner", {{"key", "Return"}});
    inner = runAlert(alerts, question("Inner"));
    alerts.abortModal();
  });
  EXPECT_EQ(runAlert(alerts, question("Outer")), kModalResponseAbort);
  EXPECT_EQ(inner, kAlertFirstButtonReturn);
  EXPECT_TRUE(serveMainContextUntil([] { return !shown("Outer") && !shown("Inner"); }));
}

struct Answer {
  int calls = 0;
  int response = -1;
  std::optional<std::string> path;
};

OpenPanel::Completion record(Answer& answer) {
  return [&answer](int response, std::optional<std::string> path) {
    ++answer.calls;
    answer.response = response;
    answer.path = std::move(path);
  };
}

OpenPanelConfiguration folderPanel(const std::optional<std::string>& start = std::nullopt) {
  OpenPanelConfiguration c;
  c.canChooseDirectories = true;
  c.canChooseFiles = false;
  c.canCreateDirectories = true;
  if (start) c.directoryURL = "file://" + *start + "/";
  return c;
}

TEST_F(Dialogs, PanelChoosesATypedFolderAndEscapeCancels) {
  GtkOpenPanel panel;
  const std::string start = dir_ + "/Start Here";
  const std::string typed = dir_ + "/Shots";
  std::filesystem::create_directories(start);
  std::filesystem::create_directories(typed);
  // Choosing at once takes the folder it opened in: host_x11_test checks
  // that end to end.
  const std::vector<
      std::tuple<std::vector<std::vector<std::string>>, int, std::optional<std::string>>>
      cases = {{{{"key", "ctrl+l"}, {"type", "--delay", "20", typed}, {"key", "Return"}},
                kModalResponseOK,
                typed},
               {{{"key", "Escape"}}, kModalResponseCancel, std::nullopt}};
  for (const auto& [keys, response, path] : cases) {
    Answer answer;
    panel.begin(folderPanel(start), record(answer));
    typeInto("Choose a Folder", keys);
    ASSERT_TRUE(serveMainContextUntil([&] { return answer.calls > 0; }));
    EXPECT_EQ(answer.response, response);
    EXPECT_EQ(answer.path, path);
    EXPECT_TRUE(serveMainContextUntil([] { return !shown("Choose a Folder"); }));
  }
}

TEST_F(Dialogs, PanelCancelledByTheHostAnswersOnceLaterAndGoesAway) {
  GtkOpenPanel panel;
  Answer kept;
  Answer dropped;
  const uint64_t keptId = panel.begin(folderPanel(dir_), record(kept));
  const uint64_t droppedId = panel.begin(folderPanel(dir_), record(dropped));
  EXPECT_NE(keptId, droppedId);
  ASSERT_TRUE(serveMainContextUntil([] { return windowsShown("Choose a Folder") == 2; }));

  panel.cancel(droppedId);
  // Not from inside cancel: on a later turn of the main queue.
  EXPECT_EQ(dropped.calls, 0);
  ASSERT_TRUE(serveMainContextUntil([&] { return dropped.calls > 0; }));
  panel.cancel(droppedId);
  EXPECT_TRUE(serveMainContextUntil([] { return windowsShown("Choose a Folder") == 1; }));
  EXPECT_EQ(dropped.calls, 1);
  EXPECT_EQ(dropped.response, kModalResponseCancel);
  EXPECT_EQ(dropped.path, std::nullopt);
  EXPECT_EQ(kept.calls, 0);

  panel.cancel(keptId);
  EXPECT_TRUE(serveMainContextUntil([&] { return kept.calls > 0 && !shown("Choose a Folder"); }));
  EXPECT_EQ(kept.response, kModalResponseCancel);

  // Cancelled as soon as begun: never answered before begin returns.
  Answer answer;
  bool begun = false;
  uint64_t id = 0;
  id = panel.begin(folderPanel(dir_), [&](int response, std::optional<std::string> path) {
    EXPECT_TRUE(begun);
    record(answer)(response, std::move(path));
  });
  begun = true;
  panel.cancel(id);
  EXPECT_EQ(answer.calls, 0);
  EXPECT_TRUE(serveMainContextUntil([&] { return answer.calls == 1; }));
}

}  // namespace
}  // namespace dravel::linux_platform
