// Start at login on Linux: an XDG autostart entry.
//
// Registering writes the desktop entry
// `$XDG_CONFIG_HOME/autostart/app.dravel.Dravel.desktop` (the configuration
// home defaulting to ~/.config), creating the folder first and replacing the
// file atomically. It starts the running executable (/proc/self/exe) with no
// arguments: a login launch starts exactly as any other.
//
// The status follows the entry the session reads: the user's, else the first
// of the same name in $XDG_CONFIG_DIRS (default /etc/xdg) /autostart.
//   not registered  no entry, Hidden=true, X-GNOME-Autostart-enabled=false,
//                   or OnlyShowIn / NotShowIn leave out $XDG_CURRENT_DESKTOP
//   not found       the program of TryExec or of Exec is not there
//   enabled         otherwise
// Unregistering removes the user's entry; when a system-wide entry of the same
// name exists it writes a user entry with Hidden=true in its place, which is
// how the user turns a system entry off.
//
// Inside a Flatpak sandbox the autostart folder is out of reach, and the
// background portal serves instead: registering is
// org.freedesktop.portal.Background.RequestBackground with autostart true,
// the host's command inside the sandbox (its program's name, which Flatpak
// finds in the application's own folder) and a reason the desktop can show
// the user; unregistering is the same request with autostart false. The
// desktop writes the entry itself (`flatpak run --command=...`). The portal
// has no query, so its last answer is kept in the application's own data
// folder ($XDG_DATA_HOME/dravel/background, inside the sandbox the
// application's folder under ~/.var/app), and the status reads it: enabled
// when the last answer turned autostart on, else not registered. A request
// the portal refuses, or the user cancels, fails with the portal's words;
// the request waits for the portal's answer (at most 25 s).
#pragma once

#include <optional>
#include <string>

#include "platform/seam/login_item.h"

namespace dravel::linux_platform {

class XdgAutostartLoginItem : public LoginItem {
 public:
  // The running executable; sandboxed when the process runs inside Flatpak.
  XdgAutostartLoginItem();
  // An entry that starts `executable` (an absolute path).
  XdgAutostartLoginItem(std::string executable, bool sandboxed);

  int status() override;
  std::optional<std::string> registerService() override;
  std::optional<std::string> unregisterService() override;

  // The user's entry, from the environment as it is now. Empty when there is
  // no configuration home.
  static std::string userEntryPath();
  // Where the background portal's last answer is kept. Empty when there is no
  // data home.
  static std::string portalAnswerPath();

 private:
  // The background portal's side, inside a sandbox.
  std::optional<std::string> requestBackground(bool autostart);

  std::optional<std::string> executable_;
  bool sandboxed_;
};

// One Exec argument as the Desktop Entry rules write it: double-quoted when it
// holds a reserved character, with `"`, `` ` ``, `$` and `\` escaped inside
// the quotes, and `%` doubled.
std::string quotedExecArgument(const std::string& argument);

// A key file value with the key file escapes (`\\`, `\n`, `\t`, `\r`, and `\s`
// for a leading space).
std::string escapedKeyFileValue(const std::string& value);

// The autostart entry that starts `executable`; with `hidden`, the entry that
// turns off a system-wide entry of the same name.
std::string autostartEntry(const std::string& executable, bool hidden);

}  // namespace dravel::linux_platform
