// End to end on a real X server: dravel-host --platform x11 answers with the
// screen's real geometry and pixels, checked against the X tools.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <variant>

#include "channels/frame.h"
#include "channels/standard_codec.h"
#include "platform/shared/url.h"
#include "tests/support/fake_bus_service.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"
#include "tests/support/xwd_image.h"

namespace dravel::testing {
namespace {

bool succeeded(const MethodResponse& response) {
  return std::holds_alternative<Value>(response);
}

double number(const MethodResponse& response, const char* key) {
  const Value* value = std::get_if<Value>(&response);
  const Value* v = value ? value->at(key) : nullptr;
  EXPECT_TRUE(v && (v->asDouble() || v->asInt())) << "no number " << key;
  if (!v) return -1e9;
  return v->asDouble() ? *v->asDouble() : v->asInt() ? static_cast<double>(*v->asInt()) : -1e9;
}

std::vector<double> numbers(const MethodResponse& response, std::vector<const char*> keys) {
  std::vector<double> out;
  for (const char* key : keys) out.push_back(number(response, key));
  return out;
}

// Moves the pointer and waits until the server reports it there (xdotool's
// own --sync waits for a motion that never comes when it is there already).
void movePointer(int64_t x, int64_t y) {
  commandOutput({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
  const std::string expected = "x:" + std::to_string(x) + " y:" + std::to_string(y) + " ";
  EXPECT_TRUE(waitUntil(
      [&] {
        return commandOutput({"xdotool", "getmouselocation"}).rfind(expected, 0) == 0;
      },
      10));
}

class HostX11 : public HostProcessTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    HostProcessTest::SetUp();
    platform_ = "x11";
  }

  // dravelctl's screenshot (of the screen under the pointer) against the
  // pixels of monitor `m` in `root`: how many differ (-1 for another size).
  int64_t shotAgainst(const std::optional<RgbImage>& root, const ListedMonitor& m) {
    const std::string png = dir_ + "/shot.png";
    std::string err;
    EXPECT_EQ(ctl({"screenshot", "-o", png}, nullptr, &err), 0) << err << hostLog();
    if (!root || root->width < m.x + m.width || root->height < m.y + m.height) return -1;
    return rgbOf(pngFileImage(png)).differingPixels(root->crop(m.x, m.y, m.width, m.height));
  }

  // Checks the geometry the host gives for the screen under the pointer at
  // root (x, y) against xrandr, at `scale`.
  void expectGeometryAt(int64_t x, int64_t y, double scale) {
    movePointer(x, y);
    const ListedMonitor m = listedMonitorAt(x, y);
    const ListedMonitor p = listedPrimaryMonitor();
    MethodResponse reply = call("dravel/capture", "screenUnderCursor");
    ASSERT_TRUE(succeeded(reply)) << hostLog();
    SCOPED_TRACE("pointer at " + std::to_string(x) + "," + std::to_string(y) + " on " + m.name);
    EXPECT_EQ(
        numbers(reply, {"scale", "screenX", "screenY", "screenW", "screenH", "cursorX", "cursorY"}),
        (std::vector<double>{scale, (m.x - p.x) / scale,
                             ((p.y + p.height) - (m.y + m.height)) / scale, m.width / scale,
                             m.height / scale, (x - m.x) / scale, (y - m.y) / scale}));
    EXPECT_GT(number(reply, "displayId"), 0);
  }
};

TEST_F(HostX11, AtScaleTwoTheScreenFollowsThePointerAndTheOverlaysArrowsAreDrawnAtIt) {
  // The right monitor (which has no output) becomes the primary.
  ASSERT_TRUE(makeRightMonitorPrimary());
  ASSERT_EQ(listedPrimaryMonitor().name, "RIGHT");
  hostEnvironment_ = {"GDK_SCALE=2"};
  start();
  // Updates come from the package manager: the log names no update framework.
  EXPECT_TRUE(waitUntil([&] { return hostLog().find("package manager") != std::string::npos; }));
  EXPECT_EQ(hostLog().find("Sparkle"), std::string::npos) << hostLog();
  const MethodResponse updates = call("brindle/sparkle_updater", "isAvailable");
  ASSERT_TRUE(succeeded(updates));
  EXPECT_EQ(std::get<Value>(updates).asBool(), false);
  expectGeometryAt(300, 400, 2);
  const double left = number(call("dravel/capture", "screenUnderCursor"), "displayId");
  expectGeometryAt(2500, 1700, 2);
  EXPECT_NE(number(call("dravel/capture", "screenUnderCursor"), "displayId"), left);
  // The left edge of the right monitor belongs to it.
  expectGeometryAt(1440, 0, 2);
  // The right half becomes two monitors one above the other.
  commandOutput({"xrandr", "--delmonitor", "RIGHT"});
  commandOutput({"xrandr", "--setmonitor", "*TOP", "1440/381x900/238+1440+0", "none"});
  commandOutput({"xrandr", "--setmonitor", "BOTTOM", "1440/381x900/238+1440+900", "none"});
  ASSERT_TRUE(waitUntil(
      [&] {
        movePointer(2000, 1200);
        MethodResponse reply = call("dravel/capture", "screenUnderCursor");
        return succeeded(reply) && number(reply, "screenH") == 450;
      },
      10))
      << hostLog();
  expectGeometryAt(2000, 1200, 2);
  expectGeometryAt(2000, 100, 2);

  // Over the overlay, the diagonal kinds are the host's arrows, drawn at the
  // scale (24 points), each made once; others are the theme's cursors.
  ASSERT_TRUE(succeeded(call("dravel/capture", "enterOverlay"))) << hostLog();
  auto activate = [&](const char* kind, unsigned long before) {
    EXPECT_TRUE(succeeded(call("flutter/mousecursor", "activateSystemCursor",
                               ValueMap{{"device", int64_t{1}}, {"kind", kind}})));
    ServerCursor now;
    waitUntil([&] { return (now = serverCursor()).serial != before; }, 10);
    return now;
  };
  auto shape = [](const ServerCursor& c) { return std::vector{c.width, c.height, c.xhot, c.yhot}; };
  const ServerCursor arrow = activate("resizeUpLeftDownRight", serverCursor().serial);
  EXPECT_EQ(shape(arrow), (std::vector{48, 48, 24, 24}));
  EXPECT_EQ(arrow.centre >> 24, 0xFFu) << "the arrow's middle is opaque";
  const ServerCursor other = activate("resizeUpRightDownLeft", arrow.serial);
  EXPECT_EQ(shape(other), (std::vector{48, 48, 24, 24}));
  const ServerCursor text = activate("text", other.serial);
  EXPECT_NE(shape(text), shape(arrow));
  EXPECT_EQ(activate("resizeUpLeftDownRight", text.serial).serial, arrow.serial);
}

TEST_F(HostX11, ActiveWindowIsTheActivatedWindowWhereverItMoves) {
  start();
  const unsigned long term = windowNamed("term one");
  ASSERT_NE(term, 0u);
  auto expectActiveWindow = [&] {
    const auto [x, y, w, h] = frameOf(term);
    const ListedMonitor m = listedMonitorAt(x + w / 2, y + h / 2);
    MethodResponse reply = call("dravel/capture", "activeWindow");
    ASSERT_TRUE(succeeded(reply)) << hostLog();
    EXPECT_EQ(numbers(reply, {"winX", "winY", "winW", "winH", "screenX"}),
              (std::vector<double>{static_cast<double>(x - m.x), static_cast<double>(y - m.y),
                                   static_cast<double>(w), static_cast<double>(h),
                                   static_cast<double>(m.x)}));
  };
  commandOutput({"xdotool", "windowactivate", "--sync", std::to_string(term)});
  expectActiveWindow();
  // Onto the right monitor.
  commandOutput({"xdotool", "windowmove", "--sync", std::to_string(term), "1900", "700"});
  expectActiveWindow();
}

// The desktop's own services behind the host's routes: the folder chooser,
// the file manager on the session bus, the autostart folder.
TEST_F(HostX11, FolderChooserFileManagerAndAutostartAreTheDesktops) {
  FakeBusService files;
  ASSERT_TRUE(files.startFileManager(FakeBusService::Answer::kSucceed));
  const std::string config = dir_ + "/config";
  hostEnvironment_.push_back("XDG_CONFIG_HOME=" + config);
  start();
  const std::string shots = dir_ + "/Shots";
  std::filesystem::create_directories(shots);
  const Message pick = StandardMethodCodec::encodeMethodCall(
      {"pickSaveFolder", ValueMap{{"initialDirectory", Value(shots)}}});

  // The caller gets the folder the chooser opened in.
  std::string error;
  auto staying = connect();
  ASSERT_TRUE(staying);
  ASSERT_TRUE(staying->sendFrame(FrameKind::kCall, 2, "dravel/capture", pick, &error)) << error;
  ASSERT_TRUE(waitUntil([] { return windowsShown("Choose a Folder") > 0; })) << hostLog();
  commandOutput({"sh", "-c",
                 "xdotool search --onlyvisible --name '^Choose a Folder$' windowactivate --sync "
                 "%1 && sleep 0.5 && xdotool key Return"});
  std::optional<Frame> reply = staying->readFrame(&error, 20);
  ASSERT_TRUE(reply) << error << hostLog();
  const MethodResponse answer = decodeReply(reply->payload);
  ASSERT_TRUE(succeeded(answer)) << hostLog();
  EXPECT_EQ(std::get<Value>(answer).stringAt("path"), shots);
  EXPECT_TRUE(waitUntil([] { return windowsShown("Choose a Folder") == 0; }));

  const std::string shot = dir_ + "/shot #1.png";
  EXPECT_TRUE(succeeded(call("dravel/capture", "revealFile", ValueMap{{"path", Value(shot)}})));
  serveMainContextUntil([&] { return !files.calls().empty(); });
  ASSERT_EQ(files.calls().size(), 1u) << hostLog();
  std::string expected = "(['";  // appended: g++ 12 at -O3 misreads "literal" + string
  expected.append(fileURLWithPath(shot)).append("'], '')");
  EXPECT_EQ(files.calls()[0].arguments, expected);

  const std::string entry = config + "/autostart/app.dravel.Dravel.desktop";
  ASSERT_TRUE(succeeded(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", true}})))
      << hostLog();
  EXPECT_EQ(std::get<Value>(call("dravel/autostart", "isEnabled")).asBool(), true);
  EXPECT_TRUE(std::filesystem::exists(entry));
  ASSERT_TRUE(succeeded(call("dravel/autostart", "setEnabled", ValueMap{{"enabled", false}})));
  EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST_F(HostX11, ANotificationClickedOnTheDesktopReachesTheInterface) {
  StoppedAtExit stopDunst{startDunst(dir_)}, stopWatch;
  ASSERT_FALSE(HasFailure());
  start();
  stopWatch.pid =
      spawn({ctlBinary_, "--socket", socket_, "watch"}, dir_ + "/watch.out", dir_ + "/watch.err");
  const MethodResponse shown =
      call("dravel/notifications", "show",
           ValueMap{{"title", "Exported"}, {"id", "export"}, {"payload", "job-7"}});
  ASSERT_TRUE(succeeded(shown)) << hostLog();
  EXPECT_EQ(*std::get<Value>(shown).asBool(), true) << hostLog();
  ASSERT_TRUE(waitUntil([] {
    std::string out;
    runCommand({"dunstctl", "count", "displayed"}, &out);
    return out == "1\n";
  }));
  // Clicks until the watcher, which may have connected after the first
  // one, sees the call.
  const std::string line =
      R"({"channel":"dravel/notifications","method":"clicked","arguments":{"id":"export","payload":"job-7"}})";
  EXPECT_TRUE(waitUntil([&] {
    runCommand({"dunstctl", "action", "0"});
    return readFile(dir_ + "/watch.out").find(line) != std::string::npos;
  })) << readFile(dir_ + "/watch.out")
      << hostLog();
}

// A copy still running is ended by the one that starts, though it is another
// file (another install, a build tree), found by the program's name on the
// session bus. (A copy whose program file an upgrade replaced is found in
// process, by linux_process_test.)
TEST_F(HostX11, ACopyStartedEndsOneInstalledElsewhere) {
  const std::string installed = hostBinary_;
  hostBinary_ = dir_ + "/elsewhere/dravel-host";
  std::filesystem::create_directories(dir_ + "/elsewhere");
  std::filesystem::copy_file(installed, hostBinary_);
  start();
  // Launched to the end (its own look for other copies done): the socket
  // answers a little earlier.
  ASSERT_TRUE(logHas("[host] serving")) << hostLog();
  const pid_t old = pid_;
  // The new copy, on a socket of its own on the same display.
  const std::string fresh = dir_ + "/fresh";
  StoppedAtExit stopFresh{spawn({installed, "--platform", "x11", "--socket", fresh + ".sock"},
                                fresh + ".out", fresh + ".log", hostEnvironment_)};
  // The old copy ends; the new one serves.
  EXPECT_GE(waitFor(old, 20), 0) << readFile(fresh + ".log") << "old copy:\n" << hostLog();
  pid_ = -1;
  EXPECT_TRUE(waitUntil([&] {
    std::string error;
    return SocketClient::connect(fresh + ".sock", &error) != nullptr;
  })) << readFile(fresh + ".log");
}

TEST_F(HostX11, ACopyOnAnotherDisplayOfTheSameBusLeavesThisOneRunning) {
  start();
  ASSERT_TRUE(logHas("[host] serving")) << hostLog();
  const std::string served = dir_ + "/second-xvfb.out";
  StoppedAtExit server{
      spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, served,
            dir_ + "/second-xvfb.err")};
  ASSERT_TRUE(waitUntil([&] { return readFile(served).find('\n') != std::string::npos; }))
      << "Xvfb did not start: " << readFile(dir_ + "/second-xvfb.err");
  const std::string second = dir_ + "/second";
  StoppedAtExit secondHost{spawn({hostBinary_, "--platform", "x11", "--socket", second + ".sock"},
                                 second + ".out", second + ".log",
                                 {"DISPLAY=:" + std::to_string(std::stoi(readFile(served)))})};
  // Both serve: each display keeps its own host.
  EXPECT_TRUE(waitUntil([&] {
    std::string error;
    return SocketClient::connect(second + ".sock", &error) != nullptr;
  })) << readFile(second + ".log");
  // A copy ending another does so as soon as it serves.
  const int ended = waitFor(pid_, 2);
  if (ended >= 0) pid_ = -1;
  EXPECT_EQ(ended, -1) << hostLog() << readFile(second + ".log");
  EXPECT_TRUE(succeeded(call("dravel/capture", "screenUnderCursor"))) << hostLog();
}

// Captures are the screen pixel for pixel, on either monitor, and while the
// overlay is up, the screen from before it.
TEST_F(HostX11, TheOverlayCoversItsScreenIsLeftOutOfCapturesAndLeavesNothingGrabbed) {
  start();
  movePointer(700, 900);
  EXPECT_EQ(shotAgainst(xwdRoot(), listedMonitorAt(700, 900)), 0);
  movePointer(2100, 900);
  const std::optional<RgbImage> before = xwdRoot();
  ASSERT_TRUE(before);
  ASSERT_TRUE(succeeded(call("dravel/capture", "enterOverlay"))) << hostLog();
  // The host's window, found by its process.
  unsigned long overlay = 0;
  ASSERT_TRUE(waitUntil(
      [&] {
        std::string out;
        if (!runCommand({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid_)},
                        &out)) {
          return false;
        }
        overlay = std::strtoul(out.c_str(), nullptr, 10);
        return overlay != 0;
      },
      10))
      << hostLog();
  const ListedMonitor m = listedMonitorAt(2100, 900);
  EXPECT_EQ(contentOf(overlay), (RootRect{m.x, m.y, m.width, m.height}));
  EXPECT_EQ(windowInfo(overlay).text("Override Redirect State"), "yes");
  EXPECT_TRUE(waitUntil(
      [&] {
        std::string focus;
        runCommand({"xdotool", "getwindowfocus"}, &focus);
        return std::strtoul(focus.c_str(), nullptr, 10) == overlay;
      },
      10))
      << "the overlay has the keyboard focus";

  // A capture while the overlay is up shows what was there before it.
  EXPECT_EQ(shotAgainst(before, m), 0);

  ASSERT_TRUE(succeeded(call("dravel/capture", "exitOverlay")));
  EXPECT_TRUE(waitUntil([&] { return windowInfo(overlay).text("Map State") == "IsUnMapped"; }, 10));
  // Nothing is left grabbed: another client gets the pointer and keyboard.
  EXPECT_TRUE(anotherClientCanGrabPointerAndKeyboard());
}

TEST_F(HostX11, TheHostEndsCleanlyWhenItsDisplayGoesAway) {
  // A server of this test's own, so that killing it touches nothing else;
  // it writes its display's number to its output once it serves.
  const std::string served = dir_ + "/xvfb.out";
  const pid_t server =
      spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, served,
            dir_ + "/xvfb.err");
  ASSERT_TRUE(waitUntil([&] { return readFile(served).find('\n') != std::string::npos; }))
      << "Xvfb did not start: " << readFile(dir_ + "/xvfb.err");
  const std::string display = ":" + std::to_string(std::stoi(readFile(served)));
  hostEnvironment_ = {"DISPLAY=" + display};
  start();
  ASSERT_TRUE(succeeded(call("dravel/capture", "screenUnderCursor"))) << hostLog();
  ::kill(server, SIGKILL);
  waitFor(server, 10);
  const int status = waitFor(pid_, 10);
  pid_ = -1;
  EXPECT_EQ(status, 1) << hostLog();
  EXPECT_NE(::access(socket_.c_str(), F_OK), 0) << "the socket is gone";
}

}  // namespace
}  // namespace dravel::testing
