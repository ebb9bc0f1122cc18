#include "tests/support/wayland_oracles.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {
std::string gnomeDisplayState() {
  return gdbusCall("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                   "org.gnome.Mutter.DisplayConfig.GetCurrentState");
}

std::string waylandTestDesktop() {
  const char* family = std::getenv("DRAVEL_TEST_DESKTOP");
  return family != nullptr ? family : "";
}

std::vector<SwayOutput> swayOutputs() {
  std::vector<SwayOutput> outputs;
  std::string out;
  if (!runCommand({"swaymsg", "-r", "-t", "get_outputs"}, &out)) return outputs;
  const auto json = nlohmann::json::parse(out, nullptr, false);
  if (!json.is_array()) return outputs;
  for (const auto& o : json) {
    if (!o.is_object() || !o.value("active", false)) continue;
    SwayOutput output;
    output.name = o.value("name", "");
    const auto rect = o.value("rect", nlohmann::json::object());
    output.x = rect.value("x", 0);
    output.y = rect.value("y", 0);
    output.width = rect.value("width", 0);
    output.height = rect.value("height", 0);
    output.scale = o.value("scale", 1.0);
    const auto mode = o.value("current_mode", nlohmann::json::object());
    output.modeWidth = mode.value("width", 0);
    output.modeHeight = mode.value("height", 0);
    outputs.push_back(output);
  }
  return outputs;
}

namespace {
// A binary PPM (P6, maxval 255, one whitespace, then the pixels); empty
// (width 0) when malformed.
RgbImage ppmImage(const std::string& bytes) {
  std::istringstream in(bytes);
  std::string magic;
  long width = 0, height = 0, maxval = 0;
  if (!(in >> magic >> width >> height >> maxval) || magic != "P6" || maxval != 255 || width <= 0 ||
      height <= 0 || width > 1 << 15 || height > 1 << 15) {
    return {};
  }
  const auto start = static_cast<size_t>(in.tellg()) + 1;
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  if (start > bytes.size() || bytes.size() - start < size) return {};
  RgbImage image{width, height, {}};
  image.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                   bytes.begin() + static_cast<std::ptrdiff_t>(start + size));
  return image;
}
}  // namespace

RgbImage grimOutput(const std::string& name, bool cursor) {
  std::string out;
  std::vector<std::string> argv{"grim", "-o", name, "-t", "ppm", "-"};
  if (cursor) argv.insert(argv.begin() + 1, "-c");
  if (!runCommand(argv, &out)) return {};
  return ppmImage(out);
}

RgbImage kwinOutputFrame(const std::string& name) {
  // KWin serves its screenshots to the programs desktop entries grant them
  // to: here the interpreter that runs the oracle.
  static const bool granted = [] {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data == nullptr) return false;
    const std::filesystem::path dir = std::filesystem::path(data) / "applications";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "dravel-kwin-oracle.desktop")
        << "[Desktop Entry]\nType=Application\nName=Dravel KWin oracle\nExec="
        << std::filesystem::canonical("/usr/bin/python3").string()
        << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
    return runCommand({"kbuildsycoca5"});
  }();
  std::string out;
  if (!granted || !runCommand({DRAVEL_SOURCE_DIR "/tests/tools/kwin_frame.py", name}, &out)) {
    return {};
  }
  return ppmImage(out);
}

bool showsAMonitorWithAWindow(const RgbImage& shot, const std::vector<RgbImage>& monitors,
                              std::string* why) {
  const int64_t area = shot.width * shot.height;
  std::map<uint32_t, int64_t> colours;
  for (int64_t y = 0; y < shot.height; ++y) {
    for (int64_t x = 0; x < shot.width; ++x) ++colours[shot.pixel(x, y)];
  }
  int64_t commonest = 0;
  for (const auto& [colour, count] : colours) commonest = std::max(commonest, count);
  std::ostringstream said;
  said << "the screenshot is " << shot.width << "x" << shot.height << ";";
  for (size_t i = 0; i < monitors.size(); ++i) {
    const int64_t differing = shot.differingPixels(monitors[i]);
    said << " monitor " << i << " (" << monitors[i].width << "x" << monitors[i].height
         << ") differs in " << differing << " pixels;";
    if (area > 0 && differing >= 0 && differing < area / 100) {
      if (commonest < area / 10 * 9) return true;
      said << " but one colour covers " << commonest << " of its pixels: no window shows;";
    }
  }
  if (why) *why = said.str();
  return false;
}

std::vector<RgbImage> compositorPictures() {
  std::vector<RgbImage> pictures;
  const std::string family = waylandTestDesktop();
  if (family == "gnome") {
    for (const std::string& monitor : gnomeMonitors()) {
      pictures.push_back(rgbOf(mutterMonitorFrame(monitor.substr(0, monitor.find(' ')))));
    }
    return pictures;
  }
  for (const CompositorMonitor& monitor : compositorMonitors()) {
    pictures.push_back(family == "kwin" ? kwinOutputFrame(monitor.name) : grimOutput(monitor.name));
  }
  return pictures;
}

bool demoShowsACompositorPicture(const std::string& png, double seconds, std::string* said,
                                 std::string* why) {
  return waitUntil(
      [&] {
        return runDemo(png, said) == 0 &&
               showsAMonitorWithAWindow(rgbOf(pngFileImage(png)), compositorPictures(), why);
      },
      seconds);
}

CapturedImage mutterMonitorFrame(const std::string& connector) {
  const std::string png = std::filesystem::temp_directory_path() /
                          ("dravel-mutter-" + std::to_string(::getpid()) + ".png");
  CapturedImage image;
  if (runCommand({DRAVEL_SOURCE_DIR "/tests/tools/mutter_frame.py", connector, png})) {
    image = pngFileImage(png);
  }
  std::filesystem::remove(png);
  return image;
}

std::vector<std::string> gnomeMonitors() {
  const std::string out = gnomeDisplayState();
  std::vector<std::string> monitors;
  // Each monitor: (('Meta-0', vendor, product, serial), [('1920x1080@60.000', 1920, 1080,
  // rate, preferred, scales, {'is-current': <true>, ...}), ...], ...). The current mode is
  // the one whose properties say is-current.
  const std::regex monitor(R"(\(\('(Meta-[0-9]+)',)");
  const std::regex mode(R"(\('[^']*', (\d+), (\d+), [^{]*\{([^}]*)\})");
  std::vector<std::pair<size_t, std::string>> starts;
  for (std::sregex_iterator it(out.begin(), out.end(), monitor), end; it != end; ++it) {
    starts.emplace_back(static_cast<size_t>(it->position()), (*it)[1]);
  }
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t stop = i + 1 < starts.size() ? starts[i + 1].first : out.size();
    const std::string part = out.substr(starts[i].first, stop - starts[i].first);
    for (std::sregex_iterator it(part.begin(), part.end(), mode), end; it != end; ++it) {
      if ((*it)[3].str().find("'is-current': <true>") != std::string::npos) {
        monitors.push_back(starts[i].second + " " + (*it)[1].str() + "x" + (*it)[2].str());
      }
    }
  }
  return monitors;
}

namespace {

std::vector<CompositorMonitor> kwinMonitors() {
  const std::string out = gdbusCall("org.kde.KWin", "/KWin", "org.kde.KWin.supportInformation");
  std::vector<CompositorMonitor> monitors;
  // Per screen: "Name: Virtual-0", ..., "Geometry: 0,0,1920x1080", "Scale: 1"
  // (gdbus prints the line ends as \n).
  const std::regex screen(
      R"(Name: (\S+?)\\n(?:(?!Name: ).)*?Geometry: (-?\d+),(-?\d+),(\d+)x(\d+)\\n(?:(?!Name: ).)*?Scale: ([\d.]+))");
  for (std::sregex_iterator it(out.begin(), out.end(), screen), end; it != end; ++it) {
    monitors.push_back({(*it)[1], std::stoll((*it)[2]), std::stoll((*it)[3]), std::stoll((*it)[4]),
                        std::stoll((*it)[5]), std::stod((*it)[6])});
  }
  return monitors;
}

std::vector<CompositorMonitor> gnomeLogicalMonitors() {
  const std::string out = gnomeDisplayState();
  std::vector<CompositorMonitor> monitors;
  // Logical monitors: (x, y, scale, uint32 transform, primary, [('Meta-0', ...)], props).
  // GLib prints the type of the first one's transform only ("uint32 0", then "0").
  const std::regex logical(
      R"(\((-?\d+), (-?\d+), ([\d.]+), (?:uint32 )?\d+, (?:true|false), \[\('(Meta-\d+)')");
  std::vector<std::string> modes = gnomeMonitors();
  for (std::sregex_iterator it(out.begin(), out.end(), logical), end; it != end; ++it) {
    CompositorMonitor m{(*it)[4], std::stoll((*it)[1]), std::stoll((*it)[2]), 0,
                        0,        std::stod((*it)[3])};
    for (const std::string& mode : modes) {
      long long w = 0, h = 0;
      if (mode.rfind(m.name + " ", 0) == 0 &&
          std::sscanf(mode.c_str() + m.name.size() + 1, "%lldx%lld", &w, &h) == 2) {
        // Device-pixel layout: a monitor's logical size is its mode over its scale.
        m.width = static_cast<int64_t>(w / m.scale);
        m.height = static_cast<int64_t>(h / m.scale);
      }
    }
    monitors.push_back(m);
  }
  return monitors;
}

}  // namespace

std::vector<CompositorMonitor> compositorMonitors() {
  const std::string family = waylandTestDesktop();
  if (family == "kwin") return kwinMonitors();
  if (family == "gnome") return gnomeLogicalMonitors();
  std::vector<CompositorMonitor> monitors;
  for (const SwayOutput& o : swayOutputs()) {
    monitors.push_back({o.name, o.x, o.y, o.width, o.height, o.scale});
  }
  return monitors;
}

}  // namespace dravel::testing
