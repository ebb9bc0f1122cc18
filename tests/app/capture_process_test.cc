// End-to-end: dravelctl screenshots of a dravel-host running the default
// scenario, with the main window on screen and with the overlay entered.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/shared/image_codec.h"
#include "tests/support/host_process.h"

namespace dravel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Rgb = std::array<int, 3>;

class CaptureProcess : public HostProcessTest {
 protected:
  void SetUp() override {
    HostProcessTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(ctlBinary_.empty()) << "no dravelctl beside the host";
    // The repository's default scenario: two screens and a few windows.
    const auto scenario = std::filesystem::path(DRAVEL_SOURCE_DIR) / "scenarios" / "default.json";
    ASSERT_TRUE(std::filesystem::exists(scenario)) << scenario;
    start({"--scenario", scenario.string()});
    if (HasFatalFailure()) return;
    // Ready once a call goes through.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (ctl({"call", "dravel/capture", "hasPermission"}) != 0) {
      ASSERT_LT(Clock::now(), deadline) << hostLog();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // A screenshot of the screen under the pointer, decoded.
  DecodedImage screenshot() {
    const std::string png = dir_ + "/shot.png";
    EXPECT_EQ(ctl({"screenshot", "-o", png}), 0) << readFile(dir_ + "/ctl.err");
    const std::string bytes = readFile(png);
    auto image = decodePng(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    EXPECT_TRUE(image);
    return image.value_or(DecodedImage{});
  }

  static Rgb at(const DecodedImage& image, uint32_t x, uint32_t y) {
    if (x >= image.width || y >= image.height) return {-1, -1, -1};
    const size_t i = (static_cast<size_t>(y) * image.width + x) * 4;
    return {image.rgba[i], image.rgba[i + 1], image.rgba[i + 2]};
  }
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
