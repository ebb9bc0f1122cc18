// End-to-end: dravelctl screenshots of a dravel-host running the default
// scenario, with the main window on screen and with the overlay entered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/image_codec.h"

namespace dravel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Rgb = std::array<int, 3>;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& out, const std::string& err) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(o, 1);
    ::dup2(e, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

int waitFor(pid_t pid, double seconds) {
  auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class CaptureProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* host = std::getenv("DRAVEL_HOST_BINARY");
    if (!host) GTEST_SKIP() << "DRAVEL_HOST_BINARY is not set";
    host_ = host;
    if (const char* ctl = std::getenv("DRAVELCTL_BINARY")) {
      ctl_ = ctl;
    } else {
      ctl_ = (std::filesystem::path(host_).parent_path() / "dravelctl").string();
    }
    if (!std::filesystem::exists(ctl_)) GTEST_SKIP() << "no dravelctl";
    char dir[] = "/tmp/dravel-capture-e2e-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    dir_ = dir;
    socket_ = dir_ + "/run/host.sock";
    // The repository's default scenario: two screens and a few windows.
    const auto scenario = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() /
                          "scenarios" / "default.json";
    ASSERT_TRUE(std::filesystem::exists(scenario)) << scenario;
    pid_ = spawn({host_, "--platform", "sim", "--socket", socket_, "--scenario", scenario.string()},
                 dir_ + "/host.out", dir_ + "/host.log");
    // Ready once a call goes through.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (ctl({"call", "dravel/capture", "hasPermission"}) != 0) {
      ASSERT_LT(Clock::now(), deadline) << readFile(dir_ + "/host.log");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      if (waitFor(pid_, 10) < 0) ::kill(pid_, SIGKILL), waitFor(pid_, 10);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  int ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {ctl_, "--socket", socket_, "--timeout", "20"});
    return waitFor(spawn(args, dir_ + "/ctl.out", dir_ + "/ctl.err"), 30);
  }

  // A screenshot of the screen under the pointer, decoded.
  DecodedImage screenshot() {
    const std::string png = dir_ + "/shot.png";
    EXPECT_EQ(ctl({"screenshot", "-o", png}), 0) << readFile(dir_ + "/ctl.err");
    const std::string bytes = readFile(png);
    auto image = decodePng(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(image);
    return image.value_or(DecodedImage{});
  }

  static Rgb at(const DecodedImage& image, uint32_t x, uint32_t y) {
    if (x >= image.width || y >= image.height) return {-1, -1, -1};
    const size_t i = (static_cast<size_t>(y) * image.width + x) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]};
  }

  std::string host_, ctl_, dir_, socket_;
  pid_t pid_ = -1;
};

// The primary screen is 1440 x 900 points at scale 2. The point (300, 300)
// (top-left points) lies inside the Safari window of the default scenario and
// inside the main window's normal frame (200, 200, 1000, 700 bottom-left).
constexpr uint32_t kX = 600, kY = 600;
constexpr Rgb kSafari{0x3b, 0x7d, 0xd8};
constexpr Rgb kMainWindow{0x5b, 0x3f, 0xd9};

TEST_F(CaptureProcess, ScreenshotsShowTheDesktopAndLeaveTheOverlayOut) {
  DecodedImage desktop = screenshot();
  EXPECT_EQ(desktop.width, 2880u);
  EXPECT_EQ(desktop.height, 1800u);
  EXPECT_EQ(at(desktop, kX, kY), kSafari);

  // Entering and leaving the overlay makes the window opaque; raising it
  // puts it on screen in its normal frame, where captures show it.
  ASSERT_EQ(ctl({"call", "dravel/capture", "enterOverlay", R"({"displayId": 1})"}), 0);
  ASSERT_EQ(ctl({"call", "dravel/capture", "exitOverlay"}), 0);
  ASSERT_EQ(ctl({"call", "dravel/capture", "raiseWindow"}), 0);
  EXPECT_EQ(at(screenshot(), kX, kY), kMainWindow);

  // With the overlay up over the whole screen, the capture leaves it out.
  ASSERT_EQ(ctl({"call", "dravel/capture", "enterOverlay", R"({"displayId": 1})"}), 0);
  DecodedImage underOverlay = screenshot();
  EXPECT_EQ(at(underOverlay, kX, kY), kSafari);
  EXPECT_EQ(underOverlay.rgba, desktop.rgba);
}

}  // namespace
}  // namespace dravel::testing
