// The host's KWin ScreenShot2 route on the private KWin desktop, end to end:
// a capture holds the known pixels of a pattern window shown fullscreen on
// its monitor once a desktop entry naming the host grants the interface;
// without one KWin refuses, and the host goes on to the portal. The route's
// choice of output, its pixel formats and its reading of KWin's answers,
// refusals included, are kwin_screenshot_test's (tests/platform/linux).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/wayland_oracles.h"

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

// The host on the KWin desktop, granted by an entry naming its binary:
// dravelctl's screenshot of a monitor is the pattern shown on it.
class KWinHost : public HostProcessTest {};

TEST_F(KWinHost, ScreenshotsComeThroughKWinOnceItsEntryGrantsTheHost) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  grantScreenShot(std::filesystem::canonical(hostBinary_).string());
  platform_ = "wayland";
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
  EXPECT_TRUE(logHas("KWin ScreenShot2")) << hostLog();
  EXPECT_TRUE(isSuccess(call("dravel/capture", "hasPermission"), Value(true)));
}

// No entry names the host: KWin refuses it, the route is dropped with one
// line, and the capture goes on to the portal, which on this desktop (KDE's
// portal without Plasma's dialogs, whose Screenshot backend crashes) never
// answers: the capture fails after the portal's timeout, saying so.
TEST_F(KWinHost, RefusedByKWinTheCaptureFallsToThePortal) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
  platform_ = "wayland";
  hostEnvironment_ = {"DRAVEL_PORTAL_TIMEOUT_MS=5000"};
  start();
  ASSERT_FALSE(HasFatalFailure());
  std::string err;
  EXPECT_NE(ctl({"screenshot", "-o", dir_ + "/shot.png", "--display", "1"}, nullptr, &err), 0);
  EXPECT_TRUE(logHas("[capture] KWin ScreenShot2 cannot serve this session")) << hostLog();
  EXPECT_NE(err.find("the desktop portal did not answer"), std::string::npos) << err << hostLog();
  EXPECT_TRUE(isSuccess(call("dravel/capture", "isPromptVisible"), Value(false)));
}

}  // namespace
}  // namespace dravel::testing
