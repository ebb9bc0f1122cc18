// Pattern windows shown fullscreen on the test desktop's monitors, and the
// check of a capture against the known pattern (test_pattern.h).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/seam/captured_image.h"

namespace dravel::testing {

// Runs dravel_pattern_window (beside this test's executable) on each of
// monitors 0 .. count-1; they end with the object.
class PatternWindows {
 public:
  explicit PatternWindows(int count);
  ~PatternWindows();
  PatternWindows(const PatternWindows&) = delete;
  PatternWindows& operator=(const PatternWindows&) = delete;
  // Waits until every window has drawn.
  bool ready() const;
  // The keys pressed in any of the windows so far, in order ("a c").
  std::string keysPressed() const;

 private:
  std::vector<pid_t> pids_;
  std::vector<std::string> out_;
};

// How many pixels of `image` differ from the pattern of the window on
// `monitor`, with the first one's place in `first`.
size_t patternMismatches(const CapturedImage& image, int monitor, std::string* first);
// Whether `image` is exactly the pattern of one of monitors 0 .. count-1;
// `first` names the first wrong pixel against the last one tried.
bool patternOnAMonitor(const CapturedImage& image, int count, std::string* first);

}  // namespace dravel::testing
