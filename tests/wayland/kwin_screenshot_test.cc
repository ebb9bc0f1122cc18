// The host on the KWin desktop end to end: its active window; its ScreenShot2 route:
// a capture holds the known pixels of a pattern window shown fullscreen on
// its monitor once a desktop entry naming the host grants the interface;
// without one KWin refuses, and the host goes on to the portal. The route's
// choice of output, its pixel formats and its reading of KWin's answers,
// refusals included, are kwin_screenshot_test's (tests/platform/linux).
#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/fake_bus_service.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"
#include "tests/wayland/wayland_clipboard.h"

namespace dravel::testing {
namespace {

// Installs a desktop entry whose Exec names `program` and grants it
// ScreenShot2, and has KWin's service cache rebuilt.
void grantScreenShot(const std::string& program) {
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  const std::filesystem::path dir = std::filesystem::path(data) / "applications";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "dravel-kwin-test.desktop")
      << "[Desktop Entry]\nType=Application\nName=Dravel KWin test\nExec=" << program
      << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
  ASSERT_EQ(waitFor(spawn({"kbuildsycoca5"}, "/dev/null", "/dev/null"), 60), 0);
}

// Loads and runs a KWin script of the test's (written to `path`).
void runKWinScript(const std::string& path, const std::string& js) {
  std::ofstream(path) << js;
  runCommand({"sh", "-c",
              "n=$(gdbus call --session --dest org.kde.KWin --object-path /Scripting --method "
              "org.kde.kwin.Scripting.loadScript \"$0\" \"$0\" | tr -dc 0-9) && gdbus call "
              "--session --dest org.kde.KWin --object-path /$n --method org.kde.kwin.Script.run",
              path});
}

// A bus service of the test's that KWin scripts report to (callDBus).
bool startOracle(FakeBusService& oracle) {
  return oracle.start("org.dravel.O", "/o",
                      "<node><interface name='o.O'><method name='F'><arg type='s'/></method>"
                      "</interface></node>",
                      FakeBusService::Answer::kSucceed);
}

// The host on the KWin desktop, granted by an entry naming its binary:
// dravelctl's screenshot of a monitor is the pattern shown on it.
class KWinHost : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    ASSERT_EQ(waylandTestDesktop(), "kwin");
    platform_ = "wayland";
  }

  // Runs a KWin script of the test's that reports to `oracle` (callDBus);
  // the report, empty when none comes within 5 s.
  std::string kwinReport(FakeBusService& oracle, const std::string& js) {
    const size_t before = oracle.calls().size();
    runKWinScript(dir_ + "/script" + std::to_string(++scripts_) + ".js", js);
    waitUntil(
        [&] {
          while (g_main_context_iteration(nullptr, FALSE)) {
          }
          return oracle.calls().size() > before;
        },
        5);
    return oracle.calls().size() > before ? oracle.calls().back().arguments : std::string();
  }

  int scripts_ = 0;
};

TEST_F(KWinHost, ScreenshotsComeThroughKWinOnceItsEntryGrantsTheHost) {
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  grantScreenShot(std::filesystem::canonical(hostBinary_).string());
  // The portal this desktop has never answers: a host that met KWin before
  // it honoured the new entry gives up on the portal soon and is started
  // again.
  hostEnvironment_ = {"DRAVEL_PORTAL_TIMEOUT_MS=1000"};
  const std::string png = dir_ + "/shot.png";
  int monitor = 0;
  ASSERT_TRUE(waitUntil([&] {
    if (pid_ > 0) stopHost();
    start();
    if (HasFatalFailure()) return true;
    MethodResponse screen = call("dravel/capture", "screenUnderCursor");
    const Value* geometry = std::get_if<Value>(&screen);
    const std::optional<int64_t> id = geometry ? geometry->intAt("displayId") : std::nullopt;
    const std::optional<double> left = geometry ? geometry->doubleAt("screenX") : std::nullopt;
    if (!id || !left) return false;
    monitor = *left >= 1920 ? 1 : 0;
    return ctl({"screenshot", "-o", png, "--display", std::to_string(*id)}) == 0;
  })) << readFile(dir_ + "/ctl.err")
      << hostLog();
  ASSERT_FALSE(HasFatalFailure());
  const CapturedImage image = pngFileImage(png);
  EXPECT_EQ(image.width, 1920);
  EXPECT_EQ(image.height, 1080);
  std::string first;
  EXPECT_EQ(patternMismatches(image, monitor, &first), 0u)
      << "monitor " << monitor << ": first wrong pixel " << first;
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

// The main job on this desktop grants itself as a user would and writes the
// screen under the pointer, a program's window on it, as KWin's own
// screenshot shows that output.
TEST_F(KWinHost, TheDemoGrantsItselfThroughAnEntryAndWritesTheScreenUnderThePointerAsKWinShowsIt) {
  StoppedAtExit program{spawn({"gtk3-widget-factory"}, "/dev/null", dir_ + "/program.err")};
  const std::string png = dir_ + "/demo.png";
  std::string said;
  std::string why;
  // KWin reads the entry granting its oracle a moment after it is written.
  EXPECT_TRUE(demoShowsACompositorPicture(png, 90, &said, &why))
      << said << why << readFile(dir_ + "/program.err");
  EXPECT_NE(said.find("KWin: granted through a desktop entry naming"), std::string::npos) << said;
}

// The active window, moved onto Virtual-1 by a script of the test's, is
// where that script reports it: its frame from its output's top-left corner,
// the output's left edge and size.
TEST_F(KWinHost, TheActiveWindowIsTheOneKWinReports) {
  PatternWindows window(1);
  FakeBusService oracle;
  ASSERT_TRUE(window.ready() && startOracle(oracle));
  start();
  ASSERT_FALSE(HasFatalFailure());
  std::string reported, answered;
  EXPECT_TRUE(waitUntil([&] {
    reported = kwinReport(
        oracle,
        "var c = workspace.activeClient, g = c.frameGeometry, s = workspace.clientArea("
        "KWin.ScreenArea, c); callDBus('org.dravel.O', '/o', 'o.O', 'F', [g.x - "
        "s.x, g.y - s.y, g.width, g.height, s.x, s.width, s.height].join(',')); c.fullScreen"
        " = false; c.frameGeometry = {x: 2100, y: 150, width: 640, height: 480};");
    const Value v = std::get<Value>(call("dravel/capture", "activeWindow"));
    std::ostringstream text;
    for (const char* key : {"winX", "winY", "winW", "winH", "screenX", "screenW", "screenH"}) {
      text << (text.tellp() ? "," : "('") << v.doubleAt(key).value_or(-1);
    }
    answered = text.str() + "',)";
    return reported == answered && answered == "('180,150,640,480,1920,1920,1080',)";
  })) << answered
      << reported << hostLog();
}

// The overlay on KWin covers exactly its output on a layer above the
// fullscreen windows' and is the active window, as KWin's own list says;
// after it, no window of the host's is listed or active.
TEST_F(KWinHost, TheOverlayCoversItsOutputAboveTheOthersAndIsActive) {
  PatternWindows windows(2);
  FakeBusService oracle;
  ASSERT_TRUE(windows.ready() && startOracle(oracle));
  start();
  ASSERT_FALSE(HasFatalFailure());
  const Value screen = std::get<Value>(call("dravel/capture", "screenUnderCursor"));
  ASSERT_TRUE(screen.intAt("displayId"));
  // KWin's windows: the host's "x y w h", whether its layer is above every
  // other window's, and whether it is the active one.
  auto report = [&] {
    return kwinReport(
        oracle,
        "var w = workspace.clientList(), ours = 'none', top = true, p = " + std::to_string(pid_) +
            "; for (var i = 0; i < w.length; ++i) if (w[i].pid == p) { var g = "
            "w[i].frameGeometry; ours = [g.x, g.y, g.width, g.height].join(' '); for "
            "(var j = 0; j < w.length; ++j) if (w[j].pid != p && w[j].layer >= "
            "w[i].layer) top = false; } callDBus('org.dravel.O', '/o', 'o.O', 'F', ours "
            "+ ' top ' + top + ' active ' + (workspace.activeClient != null && "
            "workspace.activeClient.pid == p));");
  };
  ASSERT_TRUE(isSuccess(
      call("dravel/capture", "enterOverlay", ValueMap{{"displayId", *screen.intAt("displayId")}}),
      Value()));
  const std::string left =
      std::to_string(static_cast<int>(screen.doubleAt("screenX").value_or(-1)));
  std::string reported;
  EXPECT_TRUE(waitUntil([&] {
    reported = report();
    return reported == "('" + left + " 0 1920 1080 top true active true',)";
  })) << reported
      << hostLog();
  ASSERT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value()));
  EXPECT_TRUE(waitUntil([&] {
    reported = report();
    return reported == "('none top true active false',)";
  })) << reported;
}

// No entry names the host: KWin refuses it, and the capture goes on to the
// portal, which on this desktop (KDE's portal without Plasma's dialogs,
// whose Screenshot backend crashes) never answers: the capture fails after
// the portal's timeout.
TEST_F(KWinHost, RefusedByKWinTheCaptureFallsToThePortal) {
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  hostEnvironment_ = {"DRAVEL_PORTAL_TIMEOUT_MS=5000"};
  start();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_NE(ctl({"screenshot", "-o", dir_ + "/shot.png", "--display", "1"}), 0) << hostLog();
  EXPECT_TRUE(isSuccess(call("dravel/capture", "isPromptVisible"), Value(false)));
}

class KWinClipboard : public WaylandClipboard {};

// Through the compositor's data control: no focus needed.
TEST_F(KWinClipboard, CopiesComeBackThroughWlPasteWithFocusAndWithout) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  copiesComeBackThroughWlPaste();
}

}  // namespace
}  // namespace dravel::testing
