// Folder bookmarks on Linux. Not made on this desktop yet: creating one is
// absent and resolving one fails with a description, so a saved folder is
// never taken for another. The process needs no access grant to a folder.
#pragma once

#include "platform/bookmarks.h"

namespace dravel::linux_platform {

class UnavailableBookmarks : public Bookmarks {
 public:
  std::optional<ByteBuffer> createBookmark(const std::string&) override { return std::nullopt; }
  std::variant<ResolvedBookmark, BookmarkError> resolveBookmark(const ByteBuffer&) override {
    return BookmarkError{"Folder bookmarks are not available on this desktop."};
  }
};

class UnsandboxedAccess : public SecurityScopedAccess {
 public:
  // An unsandboxed process needs no access grant.
  bool startAccessing(const std::string&) override { return false; }
  void stopAccessing(const std::string&) override {}
};

}  // namespace dravel::linux_platform
