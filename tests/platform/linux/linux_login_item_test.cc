// Start at login on Linux, against a temporary configuration home and system
// configuration folder. Entries are checked with desktop-file-validate and
// read back with GIO's desktop entry parser.
#include "platform/linux/linux_login_item.h"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/linux/linux_process_info.h"

namespace dravel::linux_platform {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// desktop-file-validate's verdict: empty when the entry passes without a
// single remark, else what it said.
std::string validate(const fs::path& entry) {
  const std::string path = entry.string();
  gchar* argv[] = {const_cast<gchar*>("desktop-file-validate"), const_cast<gchar*>(path.c_str()),
                   nullptr};
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint wait = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err,
                    &wait, &error)) {
    std::string why = std::string("desktop-file-validate did not run: ") + error->message;
    g_error_free(error);
    return why;
  }
  std::string said = std::string(out) + err;
  g_free(out);
  g_free(err);
  if (!g_spawn_check_wait_status(wait, nullptr) && said.empty()) said = "failed";
  return said;
}

// GIO's reading of an entry: whether it is hidden or left out of menus.
struct GioReading {
  bool hidden = false;
  bool noDisplay = false;
};
std::optional<GioReading> readWithGio(const fs::path& entry) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
  if (!info) return std::nullopt;
  GioReading reading{g_desktop_app_info_get_is_hidden(info) != FALSE,
                     g_desktop_app_info_get_nodisplay(info) != FALSE};
  g_object_unref(info);
  return reading;
}

// Starts an entry as GIO starts applications and answers what the started
// program wrote to `mark` (its own path, for the programs these tests make),
// or what went wrong.
std::string launchWithGio(const fs::path& entry, const fs::path& mark) {
  fs::remove(mark);
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry.c_str());
  if (!info) return "GIO did not read the entry";
  GError* error = nullptr;
  const bool launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
  g_object_unref(info);
  if (!launched) {
    std::string why = std::string("GIO did not start it: ") + error->message;
    g_error_free(error);
    return why;
  }
  for (int i = 0; i < 500 && !fs::exists(mark); ++i) g_usleep(10000);
  g_usleep(20000);  // the write may still be under way
  return fs::exists(mark) ? readFile(mark) : std::string("the program did not run");
}

class LoginItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dravel-login-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    // A configuration home that does not exist yet, two levels down.
    configHome_ = root_ / "home" / "config";
    systemDir_ = root_ / "xdg";
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
    // A folder that does not exist and a relative one come first.
    const std::string dirs = root_.string() + "/nothing here:xdg:" + systemDir_.string();
    ::setenv("XDG_CONFIG_DIRS", dirs.c_str(), 1);
    ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
    program_ = makeProgram(root_ / "bin" / "dravel");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    fs::remove_all(root_);
  }

  // A program that writes its own path into the mark file when it runs.
  std::string makeProgram(const fs::path& path) const {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\nprintf '%s' \"$0\" > '" << mark().string() << "'\n";
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }
  fs::path mark() const { return root_ / "started"; }
  fs::path userEntry() const { return configHome_ / "autostart" / "app.dravel.Dravel.desktop"; }
  fs::path systemEntry() const { return systemDir_ / "autostart" / "app.dravel.Dravel.desktop"; }
  static void writeEntry(const fs::path& path, const std::string& keys) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "[Desktop Entry]\nType=Application\nName=Dravel\n" << keys;
  }

  fs::path root_;
  fs::path configHome_;
  fs::path systemDir_;
  std::string program_;
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(LoginItemTest, RegisteringWritesAValidEntryForTheRunningExecutable) {
  XdgAutostartLoginItem item;
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
  EXPECT_EQ(XdgAutostartLoginItem::userEntryPath(), userEntry().string());
  ASSERT_EQ(item.registerService(), std::nullopt);
  EXPECT_EQ(validate(userEntry()), "");
  EXPECT_NE(
      readFile(userEntry()).find("\nExec=" + fs::read_symlink("/proc/self/exe").string() + "\n"),
      std::string::npos);
  std::optional<GioReading> gio = readWithGio(userEntry());
  ASSERT_TRUE(gio);
  EXPECT_FALSE(gio->hidden);
  EXPECT_TRUE(gio->noDisplay);
  EXPECT_NE(readFile(userEntry()).find("\nX-GNOME-Autostart-enabled=true\n"), std::string::npos);
  EXPECT_EQ(item.status(), kLoginItemEnabled);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(userEntry().parent_path()), {}), 1);

  // Registering again replaces the entry; unregistering removes it.
  ASSERT_EQ(item.registerService(), std::nullopt);
  ASSERT_EQ(item.unregisterService(), std::nullopt);
  EXPECT_FALSE(fs::exists(userEntry()));
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
  EXPECT_EQ(item.unregisterService(), std::nullopt) << "nothing to remove is no failure";

  // Without XDG_CONFIG_HOME (or with a relative one) the home is ~/.config.
  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(XdgAutostartLoginItem::userEntryPath(),
              home + "/.config/autostart/app.dravel.Dravel.desktop");
  }
}

TEST_F(LoginItemTest, ProgramPathsWithReservedCharactersAreQuoted) {
  for (const std::string dir : {"with space", "q\"uote's", "dollar$`tick`", "back\\slash",
                                " lead;&|<>~*?#()", "per%cent"}) {
    const std::string program = makeProgram(root_ / dir / "dravel host");
    XdgAutostartLoginItem item(program, false);
    ASSERT_EQ(item.registerService(), std::nullopt) << dir;
    EXPECT_EQ(validate(userEntry()), "") << dir << "\n" << readFile(userEntry());
    EXPECT_EQ(item.status(), kLoginItemEnabled) << dir;
    // GIO looks the program up before it reads "%%" as "%", and finds none.
    if (dir.find('%') == std::string::npos) {
      EXPECT_EQ(launchWithGio(userEntry(), mark()), program);
    }
    fs::remove(program);
    EXPECT_EQ(item.status(), kLoginItemNotFound) << dir;
  }
  EXPECT_EQ(quotedExecArgument("/usr/bin/dravel"), "/usr/bin/dravel");
  EXPECT_EQ(quotedExecArgument("/a b/$x\\"), "\"/a b/\\$x\\\\\"");
  EXPECT_EQ(escapedKeyFileValue(" a\\b\n"), "\\sa\\\\b\\n");
}

TEST_F(LoginItemTest, TheStatusFollowsTheKeysTheSessionReads) {
  const std::string exec = "Exec=" + program_ + " --flag %u\n";
  const std::pair<std::string, int> cases[] = {
      {exec, kLoginItemEnabled},
      {"Exec=sh -c true\n", kLoginItemEnabled},
      {exec + "Hidden=true\n", kLoginItemNotRegistered},
      {exec + "Hidden=false\n", kLoginItemEnabled},
      {exec + "X-GNOME-Autostart-enabled=false\n", kLoginItemNotRegistered},
      {exec + "X-GNOME-Autostart-enabled=true\n", kLoginItemEnabled},
      {exec + "NotShowIn=KDE;GNOME;\n", kLoginItemNotRegistered},
      {exec + "NotShowIn=KDE;\n", kLoginItemEnabled},
      {exec + "OnlyShowIn=XFCE;\n", kLoginItemNotRegistered},
      {exec + "OnlyShowIn=XFCE;ubuntu;\n", kLoginItemEnabled},
      {"Exec=" + program_ + "-gone\n", kLoginItemNotFound},
      {"Exec=\"" + program_ + "\"\n", kLoginItemEnabled},
      {"Exec=\"" + program_ + "\n", kLoginItemNotFound},
      {"Exec=dravel-no-such-program\n", kLoginItemNotFound},
      {"Exec=" + root_.string() + "\n", kLoginItemNotFound},
      {exec + "TryExec=" + program_ + "-gone\n", kLoginItemNotFound},
      {exec + "TryExec=" + program_ + "\n", kLoginItemEnabled},
      {"NoDisplay=true\n", kLoginItemNotFound},
      {exec + "Hidden=true\nTryExec=/gone\n", kLoginItemNotRegistered},
  };
  XdgAutostartLoginItem item(program_, false);
  for (const auto& [keys, status] : cases) {
    writeEntry(userEntry(), keys);
    EXPECT_EQ(item.status(), status) << keys;
  }
  std::ofstream(userEntry()) << "not a key file";
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);

  // Without a current desktop, OnlyShowIn names none of it.
  ::unsetenv("XDG_CURRENT_DESKTOP");
  writeEntry(userEntry(), exec + "OnlyShowIn=GNOME;\n");
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
  writeEntry(userEntry(), exec + "NotShowIn=GNOME;\n");
  EXPECT_EQ(item.status(), kLoginItemEnabled);
}

TEST_F(LoginItemTest, ASystemWideEntryIsTurnedOffByAHiddenUserEntry) {
  writeEntry(systemEntry(), "Exec=" + program_ + "\n");
  XdgAutostartLoginItem item(program_, false);
  EXPECT_EQ(item.status(), kLoginItemEnabled) << "the system entry starts it";

  ASSERT_EQ(item.unregisterService(), std::nullopt);
  EXPECT_EQ(validate(userEntry()), "");
  std::optional<GioReading> gio = readWithGio(userEntry());
  ASSERT_TRUE(gio);
  EXPECT_TRUE(gio->hidden);
  EXPECT_TRUE(fs::exists(systemEntry())) << "the system's entry is not the user's to remove";
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);

  ASSERT_EQ(item.registerService(), std::nullopt);
  EXPECT_EQ(item.status(), kLoginItemEnabled);
  gio = readWithGio(userEntry());
  ASSERT_TRUE(gio);
  EXPECT_FALSE(gio->hidden);

  // A system entry the desktop leaves out is no reason to start.
  fs::remove(userEntry());
  writeEntry(systemEntry(), "Exec=" + program_ + "\nOnlyShowIn=KDE;\n");
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
}

TEST_F(LoginItemTest, AnAutostartFolderThatCannotBeMadeFailsWithItsPath) {
  // A configuration home that is a file: the folder cannot be made, also for
  // root, whom permissions do not stop.
  fs::create_directories(root_ / "home");
  std::ofstream(configHome_) << "a file";
  XdgAutostartLoginItem item(program_, false);
  std::optional<std::string> failure = item.registerService();
  ASSERT_TRUE(failure);
  EXPECT_EQ(*failure, "The folder \"" + (configHome_ / "autostart").string() +
                          "\" couldn't be created: Not a directory.");
  EXPECT_EQ(item.status(), kLoginItemNotRegistered);
  EXPECT_EQ(item.unregisterService(), std::nullopt) << "there is no entry to remove";

  // Turning off a system entry needs the user's entry written.
  writeEntry(systemEntry(), "Exec=" + program_ + "\n");
  failure = item.unregisterService();
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("couldn't be created"), std::string::npos) << *failure;
  EXPECT_EQ(item.status(), kLoginItemEnabled) << "the system entry still starts it";

  // An entry path that is a folder cannot be replaced.
  fs::remove(configHome_);
  fs::create_directories(userEntry() / "inside");
  failure = item.registerService();
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("couldn't be written"), std::string::npos) << *failure;
  fs::remove_all(systemDir_);
  failure = item.unregisterService();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->find("The login item \"" + userEntry().string() + "\" couldn't be removed"),
            0u)
      << *failure;
}

TEST_F(LoginItemTest, InsideTheSandboxNothingIsWritten) {
  XdgAutostartLoginItem item(program_, true);
  EXPECT_EQ(item.status(), kLoginItemNotFound);
  EXPECT_TRUE(item.registerService());
  EXPECT_TRUE(item.unregisterService());
  EXPECT_FALSE(fs::exists(configHome_));
}

}  // namespace
}  // namespace dravel::linux_platform
