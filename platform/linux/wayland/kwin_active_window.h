// KWin's active window, asked through its scripting interface.
//
// KWin tells an ordinary Wayland client nothing of other clients' windows,
// but it runs scripts loaded over D-Bus (org.kde.KWin at /Scripting,
// org.kde.kwin.Scripting). Where the session bus has that interface (asked
// by introspection, never guessed from the desktop's name), each read writes
// a small private script, loads it under a name of its own, runs it, and
// waits a bounded time for the script's callDBus to an object this probe
// exports on its own connection; the script is then unloaded. Only KWin's
// connection may answer, and only with the name of the script it runs.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravel::linux_platform {

// The active window as the script reports it: its frame in logical pixels
// of KWin's global space.
struct KWinActiveWindow {
  int64_t pid = 0;
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  std::string resourceClass;
  std::string caption;
  std::string internalId;

  bool operator==(const KWinActiveWindow&) const = default;
};

// What a script's report says, its fields in the order the script sends them
// (pid, x, y, width, height, resource class, caption, internal id), each as
// JavaScript's String() gives it: every field empty when no window is active
// (`window` null); otherwise the pid a positive int, the frame's numbers
// finite with sizes not negative, the internal id not empty. `ok` false,
// with `error`, for anything else.
struct KWinReport {
  bool ok = false;
  std::optional<KWinActiveWindow> window;
  std::string error;
};
KWinReport parseKWinReport(const std::vector<std::string>& fields);

// A stable positive window number for KWin's internal id of a window.
int64_t kwinWindowNumber(const std::string& internalId);

class KWinActiveWindowProbe {
 public:
  KWinActiveWindowProbe() = default;
  ~KWinActiveWindowProbe();
  KWinActiveWindowProbe(const KWinActiveWindowProbe&) = delete;
  KWinActiveWindowProbe& operator=(const KWinActiveWindowProbe&) = delete;

  // KWin's report within `bound` (not ok, saying why, when there is no KWin
  // scripting, it refuses, or no well-formed report comes in time). On the
  // thread that made the probe.
  KWinReport read(std::chrono::milliseconds bound);

  // Called by the exported object.
  void onReport(const char* sender, GVariant* parameters);

 private:
  bool connect(std::string* why);
  void disconnect();

  GMainContext* context_ = nullptr;
  GDBusConnection* connection_ = nullptr;
  unsigned registration_ = 0;
  // The KWin connection whose scripting interface was found.
  std::string scriptingOwner_;
  // The script being waited for, and its report.
  std::string owner_;
  std::string plugin_;
  std::optional<KWinReport> report_;
  unsigned counter_ = 0;
};

}  // namespace dravel::linux_platform
