// The portal routes' own reasoning: which stream shows a monitor, where a
// monitor lies in a screenshot of the layout, and which stored token is
// believed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/wayland/capture/portal_capture_routes.h"
#include "platform/linux/wayland/capture/restore_token_store.h"

namespace dravel::linux_platform {
namespace {

RouteMonitor monitor(int64_t x, int64_t y, int64_t w, int64_t h, int scale) {
  return {0, x, y, w, h, scale, "", "", "", 0};
}

TEST(PortalCaptureTest, StreamForMonitor) {
  auto at = [](uint32_t node, int64_t x, int64_t y, int64_t w, int64_t h) {
    return CastStream{node, std::pair{x, y}, std::pair{w, h}};
  };
  const RouteMonitor left = monitor(0, 0, 1440, 900, 2);
  const RouteMonitor right = monitor(1440, 0, 1920, 1080, 1);
  const RouteLayout both{left, right};
  const std::optional<size_t> none;
  struct Case {
    const char* what;
    RouteMonitor monitor;
    RouteLayout layout;
    std::vector<CastStream> streams;
    std::optional<size_t> expected;
  };
  const Case cases[] = {
      {"native size alone", left, both, {at(1, 0, 0, 1920, 1080), at(2, 0, 0, 2880, 1800)}, 1},
      {"two of its size", right, both, {at(1, 9, 9, 1920, 1080), at(2, 7, 7, 1920, 1080)}, none},
      {"only another monitor granted", left, both, {at(1, 1440, 0, 1920, 1080)}, none},
      {"two monitors, one stream, nothing said", left, both, {{4, {}, {}}}, none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(streamForMonitor(c.monitor, c.layout, c.streams), c.expected) << c.what;
  }
}

// A screenshot whose pixel (x, y) holds x, y in its red and green bytes.
DecodedImage coordinates(uint32_t width, uint32_t height) {
  DecodedImage image{width, height, std::vector<uint8_t>(size_t{width} * height * 4)};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &image.rgba[(size_t{y} * width + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[3] = 255;
    }
  }
  return image;
}

// xdg-desktop-portal-wlr's screenshot, the whole layout at the largest
// scale, is cut into monitors and checked against grim by tests/wayland
// (SwayPortalRoutes). Mutter's holds native pixels at device positions.
TEST(PortalCaptureTest, MonitorFromLayoutImage) {
  // A scale-2 monitor of 8x4 points, 16x8 pixels, and a scale-1 one of 6x4
  // right of it: 22 x 8 native pixels.
  const RouteMonitor hi = monitor(0, 0, 8, 4, 2);
  const RouteMonitor lo = monitor(16, 0, 6, 4, 1);
  const RouteLayout layout{hi, lo};
  std::string error;
  CapturedImagePtr out = monitorFromLayoutImage(coordinates(22, 8), lo, layout, &error);
  ASSERT_NE(out, nullptr) << error;
  EXPECT_EQ(out->width, 6);
  EXPECT_EQ(out->height, 4);
  EXPECT_TRUE(out->isWellFormed());
  EXPECT_EQ(out->pixels[0], 16);
  EXPECT_EQ(out->pixels[1], 0);
  EXPECT_EQ(out->pixels[4], 17);
  EXPECT_EQ(monitorFromLayoutImage(coordinates(27, 8), hi, layout, &error), nullptr);
  EXPECT_NE(error.find("27x8"), std::string::npos) << error;
}

class RestoreTokenStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/dravel-token-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    root_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::filesystem::path root_;
};

TEST_F(RestoreTokenStoreTest, BelievesOnlyAUuidInAPrivateFileOfThisUser) {
  const std::string token = "0b9d2c55-8d1e-4f0a-9c3e-5a7f0e1d2b3c";
  const std::string path = (root_ / "state" / "dravel" / "token").string();
  const RestoreTokenStore store(path);
  EXPECT_EQ(store.load(), std::nullopt);
  std::string why;
  EXPECT_FALSE(store.save("not-a-uuid", &why));
  ASSERT_TRUE(store.save(token, &why)) << why;
  EXPECT_EQ(store.load(), token);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat((root_ / "state" / "dravel").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));

  struct Case {
    const char* what;
    std::function<void()> make;
  };
  const std::string elsewhere = (root_ / "elsewhere").string();
  const Case refused[] = {
      {"garbage in a private file",
       [&] {
         std::ofstream(path) << "garbage\n";
         ::chmod(path.c_str(), 0600);
       }},
      {"too long",
       [&] {
         std::ofstream(path) << token << token << "\n";
         ::chmod(path.c_str(), 0600);
       }},
      {"readable by others",
       [&] {
         std::ofstream(path) << token << "\n";
         ::chmod(path.c_str(), 0644);
       }},
      {"a link",
       [&] {
         std::ofstream(elsewhere) << token << "\n";
         ::chmod(elsewhere.c_str(), 0600);
         std::filesystem::create_symlink(elsewhere, path);
       }},
      {"a folder", [&] { std::filesystem::create_directory(path); }},
  };
  for (const Case& c : refused) {
    std::filesystem::remove_all(path);
    c.make();
    EXPECT_EQ(store.load(), std::nullopt) << c.what;
    // The next token replaces it, never writing through a link.
    if (!std::filesystem::is_directory(path)) {
      ASSERT_TRUE(store.save(token, &why)) << c.what << ": " << why;
      EXPECT_EQ(store.load(), token) << c.what;
      EXPECT_FALSE(std::filesystem::is_symlink(path)) << c.what;
    }
  }
  store.clear();
  EXPECT_EQ(store.load(), std::nullopt);
}

}  // namespace
}  // namespace dravel::linux_platform
