// The folder chooser on Linux. No chooser is shown on this desktop yet: a
// panel closes at once as cancelled (on a later turn of the main queue, as
// every panel answers), and the log says why.
#pragma once

#include "platform/open_panel.h"

namespace dravel::linux_platform {

class UnavailableOpenPanel : public OpenPanel {
 public:
  uint64_t begin(const OpenPanelConfiguration& configuration, Completion completion) override;
  void cancel(uint64_t) override {}

 private:
  uint64_t next_ = 1;
};

}  // namespace dravel::linux_platform
