// Folder bookmarks on Linux.
//
// Outside a sandbox every folder the user can name is reachable by its path,
// so a bookmark is a record of the path and of the folder's identity on disk:
//   bytes 0-3    "DLBK"
//   byte  4      record version, 1
//   bytes 5-12   st_dev of the folder when bookmarked, big-endian
//   bytes 13-20  st_ino of the folder when bookmarked, big-endian
//   bytes 21-24  length of the path in bytes, big-endian
//   then         the folder's absolute path, exactly that long, no NUL
//   last 4 bytes CRC-32 (IEEE 802.3) of everything before them, big-endian
// The magic differs from the simulated desktop's record ("DBMK"), so neither
// desktop ever reads the other's bookmarks, and the checksum keeps a damaged
// record from naming another folder.
//
// Resolving: a record that is not of this form does not resolve; a path that
// is no longer a folder does not resolve; a folder at the path that is not
// the one bookmarked (moved away and another made in its place) resolves as
// stale, so the caller stores a fresh bookmark of what is there now.
//
// Inside a Flatpak sandbox a folder outside the sandbox is reached through
// the document portal (org.freedesktop.portal.Documents, AddFull with an
// O_PATH descriptor of the folder; the bookmark would carry the document id,
// and folders chosen through the file chooser portal are exported already).
// That is not made yet: in a sandbox no bookmark is made and none resolves.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/seam/bookmarks.h"

namespace dravel::linux_platform {

class LinuxBookmarks : public Bookmarks {
 public:
  static constexpr uint8_t kRecordVersion = 1;

  // Sandboxed when the process runs inside Flatpak.
  LinuxBookmarks();
  explicit LinuxBookmarks(bool sandboxed) : sandboxed_(sandboxed) {}

  // Absent for a path that is not absolute or not an existing folder.
  std::optional<ByteBuffer> createBookmark(const std::string& path) override;
  std::variant<ResolvedBookmark, BookmarkError> resolveBookmark(const ByteBuffer& data) override;

 private:
  bool sandboxed_;
};

// The record of a folder with the given identity, as createBookmark makes it.
ByteBuffer folderRecord(const std::string& path, uint64_t device, uint64_t inode,
                        uint8_t version = LinuxBookmarks::kRecordVersion);

class UnsandboxedAccess : public SecurityScopedAccess {
 public:
  // An unsandboxed process needs no access grant: a folder it can name it can
  // open, so there is nothing to start or stop.
  bool startAccessing(const std::string&) override { return false; }
  void stopAccessing(const std::string&) override {}
};

}  // namespace dravel::linux_platform
