#include "tests/support/pattern_windows.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tests/support/host_process.h"
#include "tests/support/test_pattern.h"
#include "tests/support/xwd_image.h"

namespace dravel::testing {

PatternWindows::PatternWindows(int count) {
  const std::string tool =
      (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "dravel_pattern_window")
          .string();
  for (int i = 0; i < count; ++i) {
    out_.push_back(std::filesystem::temp_directory_path() /
                   ("dravel-pattern-" + std::to_string(::getpid()) + "-" + std::to_string(i)));
    pids_.push_back(spawn({tool, std::to_string(i)}, out_.back(), "/dev/null"));
  }
}

PatternWindows::~PatternWindows() {
  for (size_t i = 0; i < pids_.size(); ++i) {
    if (pids_[i] > 0) stopProcess(pids_[i]);
    std::filesystem::remove(out_[i]);
  }
}

bool PatternWindows::ready() const {
  return waitUntil([&] {
    return std::all_of(out_.begin(), out_.end(), [](const std::string& out) {
      return readFile(out).find("ready") != std::string::npos;
    });
  });
}

std::string PatternWindows::keysPressed() const {
  std::string keys;
  for (const std::string& out : out_) {
    const std::string text = readFile(out);
    for (size_t at = text.find("key "); at != std::string::npos; at = text.find("key ", at + 1)) {
      const size_t end = text.find('\n', at);
      if (!keys.empty()) keys += ' ';
      keys += text.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
    }
  }
  return keys;
}

size_t patternMismatches(const CapturedImage& image, int monitor, std::string* first) {
  const RgbImage rgb = rgbOf(image);
  size_t wrong = 0;
  for (int64_t y = 0; y < rgb.height; ++y) {
    for (int64_t x = 0; x < rgb.width; ++x) {
      const uint32_t expected = patternPixel(monitor, static_cast<int>(x), static_cast<int>(y));
      if (rgb.pixel(x, y) != expected && wrong++ == 0) {
        char text[96];
        std::snprintf(text, sizeof(text), "(%lld,%lld) is %06x, not %06x",
                      static_cast<long long>(x), static_cast<long long>(y), rgb.pixel(x, y),
                      expected);
        *first = text;
      }
    }
  }
  return wrong;
}

bool patternOnAMonitor(const CapturedImage& image, int count, std::string* first) {
  for (int monitor = 0; monitor < count; ++monitor) {
    if (patternMismatches(image, monitor, first) == 0) return true;
  }
  return false;
}

}  // namespace dravel::testing
