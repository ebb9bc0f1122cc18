// The host's save-folder and autostart channels served by the Linux folder
// bookmarks and login item, everything else by the simulated desktop.
#include <filesystem>
#include <fstream>

#include "channels/method_channel.h"
#include "host/base64.h"
#include "host/save_folder.h"
#include "platform/linux/linux_bookmarks.h"
#include "platform/linux/linux_login_item.h"
#include "platform/sim/sim_bookmarks.h"
#include "platform/sim/sim_open_panel.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

namespace fs = std::filesystem;
using linux_platform::LinuxBookmarks;
using linux_platform::UnsandboxedAccess;
using linux_platform::XdgAutostartLoginItem;

// The simulated desktop with the Linux file-system services in place of its own.
class LinuxFilesOnSim : public Platform {
 public:
  explicit LinuxFilesOnSim(sim::SimDesktop& sim) : sim_(sim) {}
  Application& application() override { return sim_.application(); }
  Embedding& embedding() override { return sim_.embedding(); }
  Screens& screens() override { return sim_.screens(); }
  Input& input() override { return sim_.input(); }
  Pasteboard& pasteboard() override { return sim_.pasteboard(); }
  Workspace& workspace() override { return sim_.workspace(); }
  ScreenCaptureAccess& screenCaptureAccess() override { return sim_.screenCaptureAccess(); }
  ProcessInfo& processInfo() override { return sim_.processInfo(); }
  WindowList& windowList() override { return sim_.windowList(); }
  RunningApplications& runningApplications() override { return sim_.runningApplications(); }
  ScreenCapture& screenCapture() override { return sim_.screenCapture(); }
  Graphics& graphics() override { return sim_.graphics(); }
  UserDefaults& userDefaults() override { return sim_.userDefaults(); }
  OpenPanel& openPanel() override { return sim_.openPanel(); }
  Bookmarks& bookmarks() override { return bookmarks_; }
  SecurityScopedAccess& securityScopedAccess() override { return access_; }
  LoginItem& loginItem() override { return loginItem_; }
  TextSystem& textSystem() override { return sim_.textSystem(); }
  AppNotificationCenter& appNotificationCenter() override { return sim_.appNotificationCenter(); }
  ObjectRuntime& objectRuntime() override { return sim_.objectRuntime(); }
  UserNotificationCenter& userNotificationCenter() override {
    return sim_.userNotificationCenter();
  }
  UpdateFramework& updateFramework() override { return sim_.updateFramework(); }
  ProcessControl& processControl() override { return sim_.processControl(); }
  Alerts& alerts() override { return sim_.alerts(); }
  std::unique_ptr<NativeWindow> createMainWindow() override { return sim_.createMainWindow(); }

 private:
  sim::SimDesktop& sim_;
  LinuxBookmarks bookmarks_{false};
  UnsandboxedAccess access_;
  XdgAutostartLoginItem loginItem_;
};

class LinuxFilesHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    std::string pattern = (fs::temp_directory_path() / "dravel-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    const char* home = std::getenv("XDG_CONFIG_HOME");
    savedConfigHome_ = home ? std::optional<std::string>(home) : std::nullopt;
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    linux_ = std::make_unique<LinuxFilesOnSim>(desktop());
    setPlatform(linux_.get());
    launch();
  }
  void TearDown() override {
    HostTest::TearDown();
    linux_.reset();
    if (savedConfigHome_) {
      ::setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
    } else {
      ::unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(root_);
  }
  MethodResponse call(const std::string& channel, const std::string& method, Value args) {
    std::optional<MethodResponse> reply = HostTest::call(channel, method, std::move(args));
    if (!reply) return FlutterError::errorWithCode("test_no_reply");
    return *reply;
  }
  MethodResponse begin(const std::string& bookmark) {
    return call("dravel/capture", "beginSaveFolderAccess", ValueMap{{"bookmark", bookmark}});
  }

  fs::path root_;
  std::optional<std::string> savedConfigHome_;
  std::unique_ptr<LinuxFilesOnSim> linux_;
};

TEST_F(LinuxFilesHostTest, APickedFolderIsReachedAgainUntilItGoes) {
  const std::string shots = (root_ / "Shots").string();
  fs::create_directory(shots);
  std::optional<MethodResponse> picked;
  FlutterMethodChannel ui("dravel/capture", &uiEnd());
  ui.invokeMethod("pickSaveFolder", Value(), [&](MethodResponse r) { picked = std::move(r); });
  queue().runUntilIdle();
  ASSERT_TRUE(desktop().openPanel().answer(sim::SimOpenPanel::Answer::folder(shots)));
  queue().runUntil([&] { return picked.has_value(); }, 10.0);
  ASSERT_TRUE(picked);
  std::optional<std::string> bookmark = successValue(*picked).stringAt("bookmark");
  ASSERT_TRUE(bookmark);

  EXPECT_TRUE(isSuccess(begin(*bookmark), ValueMap{{"path", shots}, {"stale", false}}));
  EXPECT_EQ(SaveFolder::accessed(), shots);

  // Another folder in its place: stale, with a fresh bookmark that is not.
  fs::create_directory(root_ / "Other");
  fs::remove(shots);
  fs::rename(root_ / "Other", shots);
  MethodResponse stale = begin(*bookmark);
  ASSERT_TRUE(std::holds_alternative<Value>(stale));
  EXPECT_EQ(successValue(stale).boolAt("stale"), true);
  std::optional<std::string> fresh = successValue(stale).stringAt("bookmark");
  ASSERT_TRUE(fresh);
  EXPECT_TRUE(isSuccess(begin(*fresh), ValueMap{{"path", shots}, {"stale", false}}));

  // Gone: unresolved with the folder named, and the open folder stays open.
  fs::remove(shots);
  EXPECT_TRUE(
      isError(begin(*fresh), "unresolved", "The folder \"" + shots + "\" couldn't be found."));
  EXPECT_EQ(SaveFolder::accessed(), shots);
  // A bookmark the simulated desktop made never leads anywhere here.
  fs::create_directory(shots);
  EXPECT_TRUE(isError(begin(base64Encode(sim::SimBookmarks::record(shots))), "unresolved",
                      "The bookmark data isn't in the correct format."));
}

TEST_F(LinuxFilesHostTest, TheAutostartSettingWritesAndRemovesTheEntry) {
  const fs::path entry = root_ / "config" / "autostart" / "app.dravel.Dravel.desktop";
  EXPECT_TRUE(isSuccess(call("dravel/autostart", "isEnabled", Value()), Value(false)));
  EXPECT_TRUE(
      isSuccess(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", true}}), Value()));
  EXPECT_TRUE(fs::is_regular_file(entry));
  EXPECT_TRUE(isSuccess(call("dravel/autostart", "isEnabled", Value()), Value(true)));
  EXPECT_TRUE(isSuccess(call("dravel/autostart", "setEnabled", Value()), Value()));
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_TRUE(isSuccess(call("dravel/autostart", "isEnabled", Value()), Value(false)));

  // A configuration home that is a file cannot hold the folder.
  fs::remove_all(root_ / "config");
  std::ofstream(root_ / "config") << "a file";
  EXPECT_TRUE(isError(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", true}}),
                      "autostart_failed",
                      "The folder \"" + (root_ / "config" / "autostart").string() +
                          "\" couldn't be created: Not a directory."));
}

}  // namespace
}  // namespace dravel::testing
