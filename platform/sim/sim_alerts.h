// Simulated modal alerts: each alert shown is recorded with its texts and how
// its modal run ended. A press of one of its buttons can be scripted at a
// time on the main queue's clock, or made by a test or the "sim/desktop"
// channel while the alert runs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "channels/main_queue.h"
#include "platform/seam/alerts.h"

namespace dravel::sim {

class SimAlerts : public Alerts {
 public:
  long runModal(const AlertContent& alert) override;
  void abortModal() override;

  // Presses the button with this title in the alert that runs when the clock
  // reaches `at` (at once, when the next alert starts later than that).
  void scriptPress(double at, std::string button = "OK");
  // Presses a button of the running alert; false when none runs or it has no
  // such button.
  bool press(const std::string& button);
  bool running() const { return !runs_.empty(); }

  struct Shown {
    AlertContent content;
    // How its modal run ended; absent while it runs.
    std::optional<long> response;
  };
  std::vector<Shown> shown;
  std::multimap<double, std::string> script;

 private:
  struct Run {
    size_t index;
    std::optional<long> response;
  };
  std::vector<Run> runs_;
};

}  // namespace dravel::sim
