// Start at login on Linux, against a temporary configuration home and system
// configuration folder. Entries are checked with desktop-file-validate and
// started through GIO, as a session starts them.
#include "platform/linux/session/linux_login_item.h"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/platform/scoped_env.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

namespace fs = std::filesystem;

using dravel::testing::readFile;

// What desktop-file-validate says about an entry: nothing when it passes.
std::string validate(const fs::path& entry) {
  std::string out, err;
  const bool passed = dravel::testing::runCommand({"desktop-file-validate", entry}, &out, &err);
  return passed || !(out + err).empty() ? out + err : "desktop-file-validate failed";
}

// GIO's view of an entry: null when it does not read it.
std::unique_ptr<GDesktopAppInfo, decltype(&g_object_unref)> gioEntry(const fs::path& entry) {
  return {g_desktop_app_info_new_from_filename(entry.c_str()), &g_object_unref};
}

class LoginItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dravel-login-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    // A configuration home two levels down that does not exist yet; a system
    // folder after one that does not exist and a relative one.
    home_.emplace("XDG_CONFIG_HOME", (root_ / "home" / "config").c_str());
    dirs_.emplace("XDG_CONFIG_DIRS",
                  (root_.string() + "/none:xdg:" + root_.string() + "/xdg").c_str());
    desktop_.emplace("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    program_ = makeProgram(root_ / "bin" / "dravel");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A program that writes its own path into started() when it runs.
  std::string makeProgram(const fs::path& path) const {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\nprintf '%s' \"$0\" > '" << started().string() << "'\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }
  // Starts the user's entry through GIO; what the started program wrote.
  std::string launchWithGio() const {
    fs::remove(started());
    auto info = gioEntry(userEntry());
    if (!info || !g_app_info_launch(G_APP_INFO(info.get()), nullptr, nullptr, nullptr)) {
      return "GIO did not start it";
    }
    for (int i = 0; i < 500 && readFile(started()).empty(); ++i) g_usleep(10000);
    return readFile(started());
  }
  fs::path started() const { return root_ / "started"; }
  fs::path userEntry() const { return root_ / "home/config/autostart/app.dravel.Dravel.desktop"; }
  fs::path systemEntry() const { return root_ / "xdg/autostart/app.dravel.Dravel.desktop"; }
  static void writeEntry(const fs::path& path, const std::string& keys) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "[Desktop Entry]\nType=Application\nName=Dravel\n" << keys;
  }

  fs::path root_;
  std::string program_;
  std::optional<dravel::testing::ScopedEnv> home_, dirs_, desktop_;
};

TEST_F(LoginItemTest, RegisteringWritesAnEntryThatStartsTheProgramWhateverItsPath) {
  XdgAutostartLoginItem running;
  EXPECT_EQ(running.status(), kLoginItemNotRegistered);
  ASSERT_EQ(running.registerService(), std::nullopt);
  EXPECT_EQ(validate(userEntry()), "");
  const std::string text = readFile(userEntry());
  EXPECT_NE(text.find("\nExec=" + fs::read_symlink("/proc/self/exe").string() + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nNoDisplay=true\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
  EXPECT_EQ(running.status(), kLoginItemEnabled);
  EXPECT_EQ(std::distance(fs::directory_iterator(userEntry().parent_path()), {}), 1)
      << "no temporary file is left beside it";

  for (const char* dir :
       {"with space", "q\"uote's", "dollar$`tick`", "back\\slash", "semi;&|<>~*?#()", "per%cent"}) {
    const std::string program = makeProgram(root_ / dir / "dravel host");
    XdgAutostartLoginItem item(program, false);
    ASSERT_EQ(item.registerService(), std::nullopt) << dir;
    EXPECT_EQ(validate(userEntry()), "") << readFile(userEntry());
    EXPECT_EQ(item.status(), kLoginItemEnabled) << dir;
    // GIO looks the program up before it reads "%%" as "%", and finds none.
    if (std::string(dir) != "per%cent") {
      EXPECT_EQ(launchWithGio(), program);
    }
    fs::remove(program);
    EXPECT_EQ(item.status(), kLoginItemNotFound) << dir;
  }
  ASSERT_EQ(running.unregisterService(), std::nullopt);
  EXPECT_FALSE(fs::exists(userEntry()));
  EXPECT_EQ(running.unregisterService(), std::nullopt) << "nothing to remove is no failure";
}

TEST_F(LoginItemTest, TheStatusFollowsTheKeysTheSessionReads) {
  const std::string exec = "Exec=" + program_ + " --flag %u\n";
  const std::pair<std::string, int> cases[] = {
      {exec, kLoginItemEnabled},
      {exec + "Hidden=true\n", kLoginItemNotRegistered},
      {exec + "NotShowIn=KDE;GNOME;\n", kLoginItemNotRegistered},
      {exec + "OnlyShowIn=XFCE;\n", kLoginItemNotRegistered},
      {exec + "OnlyShowIn=XFCE;ubuntu;\n", kLoginItemEnabled},
      {"Exec=" + program_ + "-gone\n", kLoginItemNotFound},
      {exec + "TryExec=" + program_ + "-gone\n", kLoginItemNotFound},
      {"NoDisplay=true\n", kLoginItemNotFound},
  };
  XdgAutostartLoginItem item(program_, false);
  for (const auto& [keys, status] : cases) {
    writeEntry(userEntry(), keys);
    EXPECT_EQ(item.status(), status) << keys;
  }
  desktop_->set(nullptr);
  writeEntry(userEntry(), exec + "OnlyShowIn=GNOME;\n");
  EXPECT_EQ(item.status(), kLoginItemNotRegistered) << "no current desktop is in no list";
}

TEST_F(LoginItemTest, ASystemWideEntryIsTurnedOffByAHiddenUserEntry) {
  writeEntry(systemEntry(), "Exec=" + program_ + "\n");
  XdgAutostartLoginItem item(program_, false);
  EXPECT_EQ(item.status(), kLoginItemEnabled);
  ASSERT_EQ(item.unregisterService(), std::nullopt);
  EXPECT_EQ(validate(userEntry()), "");
  auto gio = gioEntry(userEntry());
  ASSERT_TRUE(gio);
  EXPECT_TRUE(g_desktop_app_info_get_is_hidden(gio.get()));
  EXPECT_TRUE(fs::exists(systemEntry()));
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
  ASSERT_EQ(item.registerService(), std::nullopt);
  EXPECT_EQ(item.status(), kLoginItemEnabled);
}

TEST_F(LoginItemTest, FailuresNameWhatCouldNotBeWritten) {
  // A configuration home that is a file: the folder cannot be made, also for
  // root, whom permissions do not stop.
  std::ofstream(root_ / "home") << "a file";
  XdgAutostartLoginItem item(program_, false);
  EXPECT_NE(item.registerService().value_or("").find((root_ / "home/config/autostart").string()),
            std::string::npos);
  EXPECT_EQ(item.unregisterService(), std::nullopt) << "there is no entry to remove";
  writeEntry(systemEntry(), "Exec=" + program_ + "\n");
  EXPECT_TRUE(item.unregisterService()) << "turning the system entry off needs a user entry";
  EXPECT_EQ(item.status(), kLoginItemEnabled);

  // An entry path that is a folder can be neither replaced nor removed.
  fs::remove(root_ / "home");
  fs::create_directories(userEntry() / "inside");
  EXPECT_TRUE(item.registerService());
  fs::remove_all(root_ / "xdg");
  EXPECT_NE(item.unregisterService().value_or("").find(userEntry().string()), std::string::npos);
}

}  // namespace
}  // namespace dravel::linux_platform
