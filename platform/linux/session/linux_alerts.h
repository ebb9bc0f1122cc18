// Modal alerts on Linux: a GTK message dialog, kept above, run in a nested
// run of the host's own main loop (not gtk_dialog_run), so that the host's
// timers, modal ones included, keep firing while it shows. Without a display
// an alert is logged with its text and answered as aborted.
#pragma once

#include <vector>

#include "platform/seam/alerts.h"

namespace dravel::linux_platform {

class GtkAlerts : public Alerts {
 public:
  GtkAlerts() = default;
  GtkAlerts(const GtkAlerts&) = delete;
  GtkAlerts& operator=(const GtkAlerts&) = delete;

  long runModal(const AlertContent& alert) override;
  void abortModal() override;

  // One alert's modal run; public only for the dialog's signal handlers.
  struct Run;

 private:
  void answer(Run& run, long response);

  // The runs in progress, innermost last.
  std::vector<Run*> runs_;
};

}  // namespace dravel::linux_platform
