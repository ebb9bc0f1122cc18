// The screencopy route, the portal routes and sway's focused output on a
// private sway desktop, checked against sway's own answers (swaymsg) and
// grim's pixels.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "platform/linux/portal_capture_routes.h"
#include "platform/linux/sway_ipc.h"
#include "platform/linux/wlr_screencopy_route.h"

namespace dravel::linux_platform {
namespace {

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char chunk[65536];
  size_t n = 0;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  return out;
}

nlohmann::json activeOutputs() {
  nlohmann::json all = nlohmann::json::parse(run("swaymsg -r -t get_outputs"), nullptr, false);
  nlohmann::json active = nlohmann::json::array();
  if (!all.is_array()) return active;
  for (const auto& output : all) {
    if (output.value("active", false)) active.push_back(output);
  }
  return active;
}

RouteMonitor monitorOf(const nlohmann::json& output, bool withName) {
  RouteMonitor monitor;
  monitor.x = output["rect"]["x"].get<int64_t>();
  monitor.y = output["rect"]["y"].get<int64_t>();
  monitor.width = output["rect"]["width"].get<int64_t>();
  monitor.height = output["rect"]["height"].get<int64_t>();
  monitor.scale = static_cast<int>(output["scale"].get<double>());
  if (withName) monitor.name = output["name"].get<std::string>();
  return monitor;
}

// grim's pixels of an output: a binary PPM (P6, 8-bit RGB).
struct Rgb {
  int64_t width = 0;
  int64_t height = 0;
  std::string pixels;
};

Rgb grim(const std::string& name) {
  const std::string ppm = run("grim -t ppm -o '" + name + "' -");
  Rgb image;
  int maxValue = 0;
  int consumed = 0;
  long long width = 0;
  long long height = 0;
  if (std::sscanf(ppm.c_str(), "P6 %lld %lld %d%n", &width, &height, &maxValue, &consumed) != 3 ||
      maxValue != 255) {
    return image;
  }
  image.width = width;
  image.height = height;
  image.pixels = ppm.substr(static_cast<size_t>(consumed) + 1);
  return image;
}

// Every pixel of `image` against grim's; a description of the first
// difference, or empty.
std::string differences(const CapturedImage& image, const Rgb& reference) {
  if (image.width != reference.width || image.height != reference.height) {
    return "size " + std::to_string(image.width) + "x" + std::to_string(image.height) + ", grim " +
           std::to_string(reference.width) + "x" + std::to_string(reference.height);
  }
  if (reference.pixels.size() < static_cast<size_t>(image.width * image.height * 3)) {
    return "grim's image is short";
  }
  for (int64_t y = 0; y < image.height; ++y) {
    for (int64_t x = 0; x < image.width; ++x) {
      const uint8_t* ours = &image.pixels[static_cast<size_t>(y * image.bytesPerRow + x * 4)];
      const auto* theirs = reinterpret_cast<const uint8_t*>(
          &reference.pixels[static_cast<size_t>((y * image.width + x) * 3)]);
      const bool rgba = image.format == PixelFormat::kRGBAStraight;
      if (ours[rgba ? 0 : 2] != theirs[0] || ours[1] != theirs[1] ||
          ours[rgba ? 2 : 0] != theirs[2]) {
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " differs";
      }
    }
  }
  return "";
}

class SwayScreencopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* desktop = std::getenv("DRAVEL_TEST_DESKTOP");
    ASSERT_TRUE(desktop && std::string(desktop) == "sway")
        << "run inside scripts/test-desktop run --wayland sway --";
    ASSERT_TRUE(std::getenv("WAYLAND_DISPLAY") && std::getenv("SWAYSOCK"));
  }

  static RouteResult capture(CaptureRoute& route, const RouteMonitor& monitor) {
    return route.capture(monitor, {monitor}, false, [] { return false; });
  }
};

TEST_F(SwayScreencopyTest, CapturesEachOutputAtItsNativePixelsAsGrimDoes) {
  std::string why;
  CaptureRoutePtr route = makeScreencopyRoute(&why);
  ASSERT_NE(route, nullptr) << why;
  EXPECT_TRUE(route->granted());
  const nlohmann::json outputs = activeOutputs();
  ASSERT_GE(outputs.size(), 2u);
  bool sawScale2 = false;
  for (const auto& output : outputs) {
    const std::string name = output["name"].get<std::string>();
    sawScale2 |= output["scale"].get<double>() == 2;
    const Rgb reference = grim(name);
    ASSERT_GT(reference.width, 0) << name;
    EXPECT_EQ(reference.width, output["current_mode"]["width"].get<int64_t>()) << name;
    // By connector name, and by logical rectangle as the toolkit knows it.
    for (bool withName : {true, false}) {
      RouteResult result = capture(*route, monitorOf(output, withName));
      ASSERT_NE(result.image, nullptr) << name << ": " << result.error;
      EXPECT_EQ(differences(*result.image, reference), "") << name << " by name " << withName;
    }
  }
  EXPECT_TRUE(sawScale2);
}

// Adds an output with swaymsg; its entry in get_outputs, or null.
nlohmann::json addOutput() {
  const nlohmann::json before = activeOutputs();
  run("swaymsg create_output");
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (const auto& output : activeOutputs()) {
      bool known = false;
      for (const auto& old : before) known |= old["name"] == output["name"];
      if (!known) return output;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

TEST_F(SwayScreencopyTest, FollowsAnOutputAddedBetweenCaptures) {
  std::string why;
  CaptureRoutePtr route = makeScreencopyRoute(&why);
  ASSERT_NE(route, nullptr) << why;
  const nlohmann::json added = addOutput();
  ASSERT_FALSE(added.is_null()) << "swaymsg create_output added no output";
  const std::string name = added["name"].get<std::string>();
  for (bool withName : {true, false}) {
    RouteResult result = capture(*route, monitorOf(added, withName));
    ASSERT_NE(result.image, nullptr) << name << ": " << result.error;
    EXPECT_EQ(differences(*result.image, grim(name)), "") << name;
  }
}

// sway 1.7 cannot withdraw a headless output (no "unplug"; disabling one
// fails to commit), so a monitor gone since the layout was read is one the
// compositor does not list: by a name it never had, and by a rectangle no
// output covers.
TEST_F(SwayScreencopyTest, AMonitorTheCompositorNoLongerListsFailsThatCaptureOnly) {
  std::string why;
  CaptureRoutePtr route = makeScreencopyRoute(&why);
  ASSERT_NE(route, nullptr) << why;
  const nlohmann::json stays = activeOutputs().at(0);
  RouteMonitor gone = monitorOf(stays, true);
  gone.name = "HEADLESS-99";
  gone.x = 100000;
  for (bool withName : {true, false}) {
    if (!withName) gone.name.clear();
    RouteResult result = capture(*route, gone);
    EXPECT_EQ(result.image, nullptr);
    EXPECT_FALSE(result.unusable);
    EXPECT_FALSE(result.error.empty());
  }
  // The route still serves the outputs that stay.
  RouteResult result = capture(*route, monitorOf(stays, true));
  ASSERT_NE(result.image, nullptr) << result.error;
  EXPECT_EQ(differences(*result.image, grim(stays["name"].get<std::string>())), "");
}

// xdg-desktop-portal-wlr's Screenshot draws the whole layout at the largest
// scale; each monitor cut out of it is grim's picture of that output (the
// outputs are solid colours, so the scale-1 one averages down exactly), and
// the portal's file is gone afterwards. Its ScreenCast cannot start without
// a GPU: the capture fails with a message, and the route stays.
TEST_F(SwayScreencopyTest, ThePortalRoutesServeOrFailPlainly) {
  std::string why;
  CaptureRoutePtr screenshot = makeScreenshotPortalRoute(&why);
  ASSERT_NE(screenshot, nullptr) << why;
  RouteLayout layout;
  for (const auto& output : activeOutputs()) layout.push_back(monitorOf(output, true));
  ASSERT_GE(layout.size(), 2u);
  for (const RouteMonitor& monitor : layout) {
    RouteResult result = screenshot->capture(monitor, layout, false, [] { return false; });
    ASSERT_NE(result.image, nullptr) << monitor.name << ": " << result.error;
    EXPECT_EQ(differences(*result.image, grim(monitor.name)), "") << monitor.name;
    EXPECT_FALSE(std::filesystem::exists("/tmp/out.png"));
  }
  EXPECT_TRUE(screenshot->granted());

  CaptureRoutePtr cast = makeScreenCastPortalRoute(&why);
  ASSERT_NE(cast, nullptr) << why;
  RouteResult result = cast->capture(layout[1], layout, false, [] { return false; });
  EXPECT_EQ(result.image, nullptr);
  EXPECT_FALSE(result.unusable);
  EXPECT_NE(result.error.find("start of the screen cast"), std::string::npos) << result.error;
  EXPECT_FALSE(cast->promptVisible());
}

TEST_F(SwayScreencopyTest, FocusedOutputIsTheOneSwayReports) {
  for (const auto& output : activeOutputs()) {
    const std::string name = output["name"].get<std::string>();
    run("swaymsg focus output '" + name + "'");
    SwayOutput expected;
    for (const auto& listed : activeOutputs()) {
      if (!listed.value("focused", false)) continue;
      expected = {listed["name"].get<std::string>(), listed["rect"]["x"].get<int64_t>(),
                  listed["rect"]["y"].get<int64_t>(), listed["rect"]["width"].get<int64_t>(),
                  listed["rect"]["height"].get<int64_t>()};
    }
    ASSERT_EQ(expected.name, name);
    EXPECT_EQ(focusedOutput(std::chrono::milliseconds(2000)), expected);
  }
}

}  // namespace
}  // namespace dravel::linux_platform
