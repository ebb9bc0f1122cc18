// The simulated folder and file chooser: records how each panel was set up
// and closes it with an answer that a test or scenario gives.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/seam/open_panel.h"

namespace dravel::sim {

class SimOpenPanel : public OpenPanel {
 public:
  struct Answer {
    int response = kModalResponseOK;
    std::optional<std::string> path;
    static Answer folder(std::string path) { return {kModalResponseOK, std::move(path)}; }
    static Answer cancel() { return {kModalResponseCancel, std::nullopt}; }
  };

  uint64_t begin(const OpenPanelConfiguration& configuration, Completion completion) override;
  // Counted in `cancelled` when the panel was still open.
  void cancel(uint64_t panel) override;

  // Closes the oldest panel still open with `answer`; its completion runs on a
  // later turn of the main queue. False when no panel is open.
  bool answer(Answer answer);
  size_t openPanels() const { return open_.size(); }

  // When set, every panel closes with this answer on its own (on a later turn
  // of the main queue); otherwise panels stay open until answer() is called.
  std::optional<Answer> automaticAnswer;
  // Every panel shown, in order.
  std::vector<OpenPanelConfiguration> shown;
  // Panels closed through cancel() rather than by the user.
  int64_t cancelled = 0;

 private:
  struct Open {
    uint64_t id;
    Completion completion;
  };
  std::deque<Open> open_;
  uint64_t nextId_ = 1;
};

// The configuration as it is reported in the desktop's state.
Value describePanelConfiguration(const OpenPanelConfiguration& configuration);

}  // namespace dravel::sim
