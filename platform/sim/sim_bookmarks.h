// Simulated security-scoped bookmarks and folder access.
//
// A simulated bookmark is a small binary record of its own:
//   bytes 0-3  "DBMK"
//   byte  4    record version, 1
//   bytes 5-8  length of the path in bytes, big-endian
//   then       the folder's path, UTF-8, exactly that long
// Anything else does not resolve.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/seam/bookmarks.h"

namespace dravel::sim {

class SimBookmarks : public Bookmarks {
 public:
  static constexpr uint8_t kRecordVersion = 1;
  // The record of a folder's bookmark, as createBookmark makes it.
  static ByteBuffer record(const std::string& path, uint8_t version = kRecordVersion);

  std::optional<ByteBuffer> createBookmark(const std::string& path) override;
  std::variant<ResolvedBookmark, BookmarkError> resolveBookmark(const ByteBuffer& data) override;

  // Folders whose bookmark cannot be created.
  std::set<std::string> uncreatable;
  // Folders whose bookmarks resolve but are stale.
  std::set<std::string> stale;
  // Folders whose bookmarks no longer resolve (the folder is gone).
  std::set<std::string> unresolvable;
  // Paths of the bookmarks created, in order.
  std::vector<std::string> created;
  int resolutions = 0;
};

class SimSecurityScopedAccess : public SecurityScopedAccess {
 public:
  struct Counts {
    int starts = 0;  // calls of startAccessing
    int grants = 0;  // starts that opened access
    int stops = 0;   // calls of stopAccessing
    bool operator==(const Counts&) const = default;
  };

  bool startAccessing(const std::string& path) override;
  void stopAccessing(const std::string& path) override;

  // Whether access to the folder is open: more grants than stops.
  bool isOpen(const std::string& path) const;
  std::vector<std::string> openFolders() const;
  Counts countsFor(const std::string& path) const;

  // Folders for which starting access fails.
  std::set<std::string> refused;
  std::map<std::string, Counts> counts;
};

}  // namespace dravel::sim
