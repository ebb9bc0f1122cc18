// The folder chooser on Linux: GTK's native file chooser, which is GTK's own
// dialog on a plain X desktop and the desktop portal's inside a sandbox (or
// with GTK_USE_PORTAL=1). It shows without blocking; its answer comes on a
// later turn of the main queue. Without a display a panel closes at once as
// cancelled, on a later turn too.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/seam/open_panel.h"

// GTK's chooser, named without its headers.
struct _GtkFileChooserNative;

namespace dravel::linux_platform {

class GtkOpenPanel : public OpenPanel {
 public:
  GtkOpenPanel() = default;
  // Takes down the choosers still open; their completions never run.
  ~GtkOpenPanel() override;
  GtkOpenPanel(const GtkOpenPanel&) = delete;
  GtkOpenPanel& operator=(const GtkOpenPanel&) = delete;

  uint64_t begin(const OpenPanelConfiguration& configuration, Completion completion) override;
  void cancel(uint64_t panel) override;

  // One open chooser.
  struct Panel {
    GtkOpenPanel* owner = nullptr;
    uint64_t id = 0;
    _GtkFileChooserNative* chooser = nullptr;
    Completion completion;
  };

 private:
  void close(uint64_t panel, int response, std::optional<std::string> path);
  void dismiss(_GtkFileChooserNative* chooser);

  // Choosers closed but not yet let go of.
  std::vector<_GtkFileChooserNative*> closing_;
  unsigned sweep_ = 0;

  std::map<uint64_t, std::unique_ptr<Panel>> open_;
  uint64_t next_ = 1;
};

}  // namespace dravel::linux_platform
