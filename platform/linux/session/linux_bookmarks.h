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
// the document portal (org.freedesktop.portal.Documents), under its mount
// ($XDG_RUNTIME_DIR/doc) as DOC-ID/NAME. A FUSE mount need not keep device
// and inode numbers, and the mount's own path may change, so the record is
// what the portal keeps:
//   bytes 0-3    "DLDP"
//   byte  4      record version, 1
//   bytes 5-8    length of the document id, big-endian, then the id
//   4 bytes      length of the path under the document, big-endian, then it
//   last 4 bytes CRC-32 of everything before them, big-endian
// A folder the file chooser portal handed over is a document already; any
// other is added to the portal first (AddFull of a path-only descriptor,
// exported as a folder, kept across sessions). Resolving asks the portal
// where it mounts (GetMountPoint) and whether the document still exists,
// which inside a sandbox the portal answers through its mount (its queries
// of documents serve only unsandboxed callers): a removed document does not
// resolve, nor does a folder no longer there under it. The mount is asked for anew
// each time, so a record resolves wherever the portal mounts. Neither kind of
// record reads inside the other's world: a record made outside the sandbox
// names no document, one made inside names no folder outside. The document
// portal is local and answers at once; each call is bounded by 5 s.
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
  std::optional<ByteBuffer> createDocumentBookmark(const std::string& path);
  std::variant<ResolvedBookmark, BookmarkError> resolveDocumentBookmark(const ByteBuffer& data);

  bool sandboxed_;
};

// The record of a folder under a document of the document portal.
ByteBuffer documentRecord(const std::string& documentId, const std::string& pathUnder,
                          uint8_t version = LinuxBookmarks::kRecordVersion);

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
