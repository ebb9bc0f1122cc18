// The file a screenshot is written to. The target is checked before anything
// is captured; the image is written under a temporary name beside it and
// renamed over the target only when it is complete, so that a failure, an
// interrupted run or a signal (INT, TERM, HUP, QUIT) never leaves a partial
// file, and an existing file keeps its permissions.
//
// Refused, with a message: a folder; a link to nothing, or into a folder of
// another user; a place that cannot be written (a missing or read-only
// folder). A link into a folder of the user's own is written through: the
// link stays, the file it names is replaced. An existing target that is not
// a regular file (a device such as /dev/null, a pipe) is written directly.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dravel {

class ScreenshotFile {
 public:
  // Null with the reason in `why` when the target is refused.
  static std::unique_ptr<ScreenshotFile> open(const std::string& path, std::string* why);
  // Removes the temporary file unless commit() succeeded.
  ~ScreenshotFile();
  ScreenshotFile(const ScreenshotFile&) = delete;
  ScreenshotFile& operator=(const ScreenshotFile&) = delete;

  // Appends bytes; false (the reason in error()) on a failed write.
  bool write(std::span<const uint8_t> bytes);
  // Puts the complete file in place; false (the reason in error()) when it
  // cannot be, the temporary file then removed.
  bool commit();
  const std::string& error() const { return error_; }

 private:
  ScreenshotFile() = default;
  void discard();

  std::string target_;     // where the file ends up (a link resolved)
  std::string temporary_;  // empty when written directly
  int fd_ = -1;
  mode_t mode_ = 0;
  bool committed_ = false;
  std::string error_;
};

}  // namespace dravel
