// The host on the private GNOME desktop, where only the ScreenCast portal
// gives pixels. GNOME shows its Screen Share dialog unless the permission
// store holds the restore token sent: the tests store one as GNOME does
// (for both virtual monitors), and the captures are checked against the
// pattern windows shown fullscreen there.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/linux/wayland/capture/restore_token_store.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {
namespace {

std::string freshUuid() {
  std::string uuid = readFile("/proc/sys/kernel/random/uuid");
  while (!uuid.empty() && uuid.back() == '\n') uuid.pop_back();
  return uuid;
}

// Stores `token` in GNOME's permission store as the grant of a screen cast
// of both monitors, the way GNOME's portal stores the tokens it hands out.
void seedScreenCastGrant(const std::string& token) {
  const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  const std::string stamp = "int64 " + std::to_string(now);
  ASSERT_NE(gdbusCall("org.freedesktop.impl.portal.PermissionStore",
                      "/org/freedesktop/impl/portal/PermissionStore",
                      "org.freedesktop.impl.portal.PermissionStore.Set",
                      {"screencast", "true", token, "{'': ['yes']}",
                       "<('GNOME', uint32 1, <(" + stamp + ", " + stamp +
                           ", [(uint32 0, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x00'>), "
                           "(uint32 1, uint32 1, <'MetaVendor:MetaVirtualMonitor:0x01'>)])>)>"}),
            "")
      << "the permission store took no token";
}

// GNOME's portal backend crashes when a dialog is closed under it, and is
// started again by the next request; a request meeting it dying fails at
// once. Lets it go first.
void letThePortalBackendGo() {
  waitUntil([] { return !busNameOwned("org.freedesktop.impl.portal.desktop.gnome"); }, 3);
}

std::filesystem::path tokenFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  return std::filesystem::path(state ? state : "") / "dravel" / "screencast-restore-token";
}

void writeTokenFile(const std::string& content) {
  std::filesystem::create_directories(tokenFile().parent_path());
  std::ofstream(tokenFile()) << content;
  std::filesystem::permissions(
      tokenFile(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

class GnomeHost : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    ASSERT_EQ(waylandTestDesktop(), "gnome");
    ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
    platform_ = "wayland";
    hostEnvironment_ = {"DRAVEL_PORTAL_TIMEOUT_MS=3000"};
    std::filesystem::remove_all(tokenFile().parent_path());
  }

  std::optional<bool> boolCall(SocketClient& client, const std::string& method) {
    MethodResponse reply = call(client, "dravel/capture", method);
    const Value* value = std::get_if<Value>(&reply);
    return value ? value->asBool() : std::nullopt;
  }
  // Starts the host and waits until it has looked for its capture routes.
  void startHost() {
    start();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(logHas("[capture] Wayland capture routes:")) << hostLog();
  }
  std::optional<bool> boolCall(const std::string& method) {
    std::unique_ptr<SocketClient> client = connect();
    return boolCall(*client, method);
  }
  // A grant GNOME's portal keeps, and its token where the host keeps it.
  void storeGrant() {
    const std::string token = freshUuid();
    seedScreenCastGrant(token);
    ASSERT_FALSE(HasFatalFailure());
    writeTokenFile(token + "\n");
  }
};

TEST_F(GnomeHost, TheStoredGrantServesThisLaunchAndTheNextWithoutADialog) {
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  storeGrant();
  ASSERT_FALSE(HasFatalFailure());

  for (int launch = 1; launch <= 2; ++launch) {
    SCOPED_TRACE("launch " + std::to_string(launch));
    startHost();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(boolCall("hasPermission"), true) << hostLog();
    // Displays 1 and 2 are the toolkit's monitors, Meta-0 and Meta-1; each
    // twice, the second time from the stream kept open. GNOME may show a
    // new fullscreen window on its monitor a moment after it drew.
    for (int capture = 0; capture < 4; ++capture) {
      const int monitor = capture % 2;
      const std::string png = dir_ + "/shot.png";
      CapturedImage image;
      std::string first;
      size_t wrong = 0;
      waitUntil(
          [&] {
            std::filesystem::remove(png);
            if (ctl({"screenshot", "-o", png, "--display", std::to_string(monitor + 1)}) != 0) {
              return false;
            }
            image = pngFileImage(png);
            wrong = patternMismatches(image, monitor, &first);
            return wrong == 0;
          },
          10);
      ASSERT_GT(image.width, 0) << readFile(dir_ + "/ctl.err") << hostLog();
      EXPECT_EQ(image.width, monitor == 0 ? 1920 : 1280);
      EXPECT_EQ(image.height, monitor == 0 ? 1080 : 720);
      EXPECT_EQ(wrong, 0u) << "monitor " << monitor << ": first wrong pixel " << first;
    }
    EXPECT_EQ(boolCall("isPromptVisible"), false);
    ASSERT_EQ(stopHost(), 0) << hostLog();

    // The token the portal answered is kept, in a file of this user's alone
    // (the store believes no other; its folder's mode is portal_capture_test's).
    const std::optional<std::string> stored =
        linux_platform::RestoreTokenStore(tokenFile().string()).load();
    EXPECT_TRUE(stored) << readFile(tokenFile());
  }
}

// The main job on this desktop, with the grant GNOME's portal keeps: the
// screen under the pointer, a program's window on it, as mutter's own screen
// cast shows that monitor, with no dialog.
TEST_F(GnomeHost, TheDemoWithAStoredGrantWritesTheScreenUnderThePointerAsMutterShowsIt) {
  storeGrant();
  ASSERT_FALSE(HasFatalFailure());
  StoppedAtExit program{spawn({"gtk3-widget-factory"}, "/dev/null", dir_ + "/program.err")};
  const std::string png = dir_ + "/demo.png";
  std::string said;
  std::string why;
  EXPECT_TRUE(demoShowsACompositorPicture(png, 60, &said, &why))
      << said << why << readFile(dir_ + "/program.err");
  EXPECT_NE(said.find("GNOME: the test desktop's permission store grants"), std::string::npos);
}

// No grant GNOME knows: asking opens GNOME's dialog, which nobody answers
// here; the host gives up after its portal timeout, takes the dialog down
// and answers no. A well-formed stale token is believed until it has been
// tried (a malformed one is never believed: portal_capture_test).
TEST_F(GnomeHost, WithoutAGrantTheUnansweredDialogIsAbandonedAndTheAnswerIsNo) {
  struct Case {
    const char* what;
    std::string file;  // empty: none
    bool believed;
  };
  const Case cases[] = {
      {"no token", "", false},
      {"a stale token", freshUuid() + "\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(tokenFile().parent_path());
    if (!c.file.empty()) writeTokenFile(c.file);
    startHost();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(boolCall("hasPermission"), c.believed) << hostLog();

    std::unique_ptr<SocketClient> asking = connect();
    std::optional<bool> answer;
    const auto asked = std::chrono::steady_clock::now();
    std::thread request([&] { answer = boolCall(*asking, "requestPermission"); });
    const bool prompted = waitUntil([&] { return boolCall("isPromptVisible") == true; }, 10);
    request.join();
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_TRUE(prompted);
    EXPECT_EQ(answer, false) << hostLog();
    // Abandoned after the timeout, not at once.
    EXPECT_GE(waited, std::chrono::milliseconds(2900));
    EXPECT_EQ(boolCall("isPromptVisible"), false);
    // A token that did not start a cast is no grant, though it is kept for
    // the next try: the portal did not turn it down.
    EXPECT_EQ(boolCall("hasPermission"), false);
    EXPECT_EQ(std::filesystem::exists(tokenFile()), !c.file.empty());
    if (c.file.empty()) {
      letThePortalBackendGo();
      // A capture asks the same way, and fails the same way.
      EXPECT_NE(ctl({"screenshot", "-o", dir_ + "/shot.png", "--display", "1"}), 0);
    }
    ASSERT_EQ(stopHost(), 0) << hostLog();
    letThePortalBackendGo();
  }
}

// Without the layer shell the overlay is the window itself, fullscreen on
// its monitor: mutter's own cast shows it frozen black over the fullscreen
// pattern window; a capture meanwhile is the pattern; after it the pattern
// shows again.
TEST_F(GnomeHost, TheOverlayIsFullscreenOnItsMonitorAndLeftOutOfCaptures) {
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  storeGrant();
  ASSERT_FALSE(HasFatalFailure());
  startHost();
  ASSERT_FALSE(HasFatalFailure());
  // Meta-1 is display 2. A capture first opens the stream the overlay's
  // look at the screen reads.
  const std::string png = dir_ + "/shot.png";
  std::string first;
  auto pattern = [&](const CapturedImage& image) {
    return image.width == 1280 && patternMismatches(image, 1, &first) == 0;
  };
  auto capture = [&] {
    return ctl({"screenshot", "-o", png, "--display", "2"}) == 0 && pattern(pngFileImage(png));
  };
  ASSERT_TRUE(waitUntil(capture, 10)) << first << hostLog();
  ASSERT_TRUE(isSuccess(call("dravel/capture", "enterOverlay", ValueMap{{"displayId", int64_t{2}}}),
                        Value()));
  ASSERT_TRUE(isSuccess(call("dravel/capture", "freezeOverlay"), Value()));
  EXPECT_TRUE(waitUntil(
      [] {
        const CapturedImage frame = mutterMonitorFrame("Meta-1");
        bool black = frame.width == 1280 && frame.height == 720;
        for (size_t i = 0; black && i < frame.pixels.size(); i += 4) {
          black = frame.pixels[i] == 0 && frame.pixels[i + 1] == 0 && frame.pixels[i + 2] == 0;
        }
        return black;
      },
      10))
      << hostLog();
  EXPECT_TRUE(capture()) << first << hostLog();
  ASSERT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value()));
  EXPECT_TRUE(waitUntil([&] { return pattern(mutterMonitorFrame("Meta-1")); }, 10)) << first;
}

// The monitor under the overlay goes (mutter's display configuration keeps
// Meta-0 alone): the overlay leaves with it instead of covering Meta-0, and
// the host runs on. And "activeWindow" is null on GNOME.
TEST_F(GnomeHost, TheOverlayLeavesWithItsMonitor) {
  PatternWindows windows(1);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  startHost();
  ASSERT_FALSE(HasFatalFailure());
  // GNOME tells no client of others' windows: a window is focused, and
  // none is the active one.
  EXPECT_TRUE(isSuccess(call("dravel/capture", "activeWindow"), Value()));
  ASSERT_TRUE(isSuccess(call("dravel/capture", "enterOverlay", ValueMap{{"displayId", int64_t{2}}}),
                        Value()));
  ASSERT_TRUE(isSuccess(call("dravel/capture", "freezeOverlay"), Value()));
  // Up once mutter shows it.
  ASSERT_TRUE(waitUntil(
      [] {
        const CapturedImage frame = mutterMonitorFrame("Meta-1");
        return !frame.pixels.empty() && frame.pixels[0] == 0 && frame.pixels[1] == 0;
      },
      10));
  const std::string state = gnomeDisplayState();
  ASSERT_FALSE(state.empty());
  const std::string serial = state.substr(8, state.find(',') - 8);
  ASSERT_NE(gdbusCall("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                      "org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig",
                      {serial, "1",
                       "[(0, 0, 1.0, uint32 0, true, [('Meta-0', '1920x1080@60.000', @a{sv} "
                       "{})])]",
                       "@a{sv} {}"}),
            "")
      << state.substr(0, 200);
  std::string first;
  EXPECT_TRUE(waitUntil(
      [&] {
        const CapturedImage frame = mutterMonitorFrame("Meta-0");
        return frame.width == 1920 && patternMismatches(frame, 0, &first) == 0;
      },
      10))
      << first;
  EXPECT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value())) << hostLog();
}

}  // namespace
}  // namespace dravel::testing
