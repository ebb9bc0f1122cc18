// Security-scoped bookmarks: persistent references to a folder that keep it
// reachable across launches, also in the sandbox.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "channels/value.h"

namespace dravel {

struct ResolvedBookmark {
  // The file-system path of the folder the bookmark leads to.
  std::string path;
  // True when the bookmark still resolves but should be created afresh.
  bool stale = false;
  bool operator==(const ResolvedBookmark&) const = default;
};

struct BookmarkError {
  std::string localizedDescription;
  bool operator==(const BookmarkError&) const = default;
};

class Bookmarks {
 public:
  virtual ~Bookmarks() = default;
  // Security-scoped bookmark data of a folder, with no resource values and
  // not relative to another location. Absent when it cannot be created.
  virtual std::optional<ByteBuffer> createBookmark(const std::string& path) = 0;
  // Resolves security-scoped bookmark data, not relative to another location.
  virtual std::variant<ResolvedBookmark, BookmarkError> resolveBookmark(const ByteBuffer& data) = 0;
};

// Access to a folder reached through a resolved security-scoped bookmark.
class SecurityScopedAccess {
 public:
  virtual ~SecurityScopedAccess() = default;
  // Opens access to the folder; false when the platform did not open it (for
  // example because the process needs none).
  virtual bool startAccessing(const std::string& path) = 0;
  // Closes an access opened by a successful start.
  virtual void stopAccessing(const std::string& path) = 0;
};

}  // namespace dravel
