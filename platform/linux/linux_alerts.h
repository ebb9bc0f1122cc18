// Modal alerts on Linux. No dialog is shown on this desktop yet: an alert is
// logged with its text and answered as aborted, so no button is ever taken
// as pressed.
#pragma once

#include "platform/alerts.h"

namespace dravel::linux_platform {

class LoggedAlerts : public Alerts {
 public:
  long runModal(const AlertContent& alert) override;
  void abortModal() override {}
};

}  // namespace dravel::linux_platform
