// Where the screen cast's restore token lasts between launches: one file in
// the user's state folder ($XDG_STATE_HOME/dravel/, else
// ~/.local/state/dravel/), mode 0600 in a folder of mode 0700.
//
// The token is what lets a later session start without the desktop's
// dialog, so only a file this user made is believed: a link, a file of
// another user or of another kind, or one that does not hold a UUID is
// ignored, and replaced by the next token saved. A token is written to a
// new file beside the old and renamed over it, so that a crash leaves the
// old token or the new, never a part.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dravel::linux_platform {

// Whether `text` is a UUID in its textual form (8-4-4-4-12 hexadecimal
// digits), as the portal requires of a restore token.
bool isUuid(std::string_view text);

class RestoreTokenStore {
 public:
  // The store in the file at `path`.
  explicit RestoreTokenStore(std::string path) : path_(std::move(path)) {}
  // The user's: screencast-restore-token in the state folder; empty when
  // neither XDG_STATE_HOME nor HOME is set.
  static RestoreTokenStore forUser();

  const std::string& path() const { return path_; }
  // The stored token, or nothing when there is none to believe.
  std::optional<std::string> load() const;
  // Stores `token` (a UUID) in place of any other. False, with `why`, when
  // the token is not a UUID or the file cannot be written safely.
  bool save(const std::string& token, std::string* why) const;
  // Forgets the stored token.
  void clear() const;

 private:
  std::string path_;
};

}  // namespace dravel::linux_platform
