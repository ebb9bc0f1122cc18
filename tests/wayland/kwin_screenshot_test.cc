// The KWin ScreenShot2 route on the private KWin desktop: each output's
// capture holds the known pixels of a pattern window shown fullscreen on it,
// once a desktop entry naming this executable grants the interface; without
// one KWin refuses, and the route says it cannot serve.
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/linux/kwin_screenshot_route.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/pattern_windows.h"
#include "tests/support/wayland_oracles.h"

namespace dravel::testing {
namespace {

using linux_platform::CaptureRoutePtr;
using linux_platform::RouteLayout;
using linux_platform::RouteMonitor;
using linux_platform::RouteResult;

std::string executable() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

// The test desktop's outputs as the toolkit lists them: logical rectangles,
// no connector names (KWin's names are the route's to find).
RouteLayout testDesktopLayout() {
  RouteLayout layout;
  for (int i = 0; i < 2; ++i) {
    RouteMonitor m;
    m.displayID = static_cast<uint32_t>(i + 1);
    m.x = 1920 * i;
    m.width = 1920;
    m.height = 1080;
    m.index = i;
    layout.push_back(m);
  }
  return layout;
}

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

TEST(KWinScreenShotRoute, EachOutputGivesItsNativePixelsOnceADesktopEntryGrantsIt) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  PatternWindows windows(2);
  ASSERT_TRUE(windows.ready()) << "the pattern windows did not draw";
  std::string why;
  CaptureRoutePtr route = linux_platform::makeKWinScreenShotRoute(&why);
  ASSERT_TRUE(route) << why;
  grantScreenShot(executable());

  const RouteLayout layout = testDesktopLayout();
  auto never = [] { return false; };
  for (const RouteMonitor& monitor : layout) {
    RouteResult result;
    std::string first;
    size_t wrong = 0;
    // KWin honours a new entry a while after the cache is rebuilt, and
    // shows a new window a frame or so after it drew.
    waitUntil([&] {
      result = route->capture(monitor, layout, false, never);
      if (!result.image) return false;
      wrong = patternMismatches(*result.image, monitor.index, &first);
      return wrong == 0;
    });
    ASSERT_TRUE(result.image) << result.error;
    EXPECT_EQ(result.image->width, 1920);
    EXPECT_EQ(result.image->height, 1080);
    EXPECT_TRUE(result.image->isWellFormed());
    EXPECT_EQ(wrong, 0u) << "output " << monitor.index << ": first wrong pixel " << first;
    EXPECT_TRUE(route->granted());
  }
}

TEST(KWinScreenShotRoute, WithoutADesktopEntryKWinRefusesAndTheRouteCannotServe) {
  ASSERT_EQ(waylandTestDesktop(), "kwin");
  std::string why;
  CaptureRoutePtr route = linux_platform::makeKWinScreenShotRoute(&why);
  ASSERT_TRUE(route) << why;
  EXPECT_TRUE(route->granted());
  const RouteLayout layout = testDesktopLayout();
  const RouteResult result = route->capture(layout[1], layout, false, [] { return false; });
  EXPECT_FALSE(result.image);
  EXPECT_TRUE(result.unusable);
  EXPECT_NE(result.error.find("KWin refused"), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2"),
            std::string::npos)
      << result.error;
  EXPECT_FALSE(route->granted());
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
