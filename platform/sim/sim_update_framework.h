// The simulated update framework: it may be missing from the build, fail to
// start, have a feed address or not; it records the checks made and the
// channels its delegate allowed at each.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/seam/update_framework.h"

namespace dravel::sim {

class SimUpdaterController;

class SimUpdateFramework : public UpdateFramework {
 public:
  SimUpdateFramework();
  ~SimUpdateFramework() override;
  SimUpdateFramework(const SimUpdateFramework&) = delete;
  SimUpdateFramework& operator=(const SimUpdateFramework&) = delete;

  bool classNamed(const std::string& className) override;
  std::unique_ptr<UpdaterController> makeStandardUpdaterController(
      bool startingUpdater, std::weak_ptr<UpdaterDelegate> updaterDelegate) override;

  // The question the framework asks before each check: the live
  // controller's delegate's allowed channels; absent without a delegate.
  std::optional<std::set<std::string>> allowedChannels();
  // Whether a controller exists and its updater started.
  bool started() const;

  // How the framework behaves.
  bool bundled = true;
  std::optional<std::string> startError;
  std::optional<std::string> feedURL;
  bool canCheck = true;

  // What happened.
  std::vector<std::string> classLookups;
  int controllersMade = 0;
  // The starting flag of the last controller made.
  std::optional<bool> lastStartingUpdater;
  // One entry per check: the channels the delegate allowed at that time.
  std::vector<std::set<std::string>> checks;
  // Run as each check begins, so that a test sees what the host had done
  // just before it.
  std::function<void()> onCheck;

 private:
  friend class SimUpdaterController;
  std::shared_ptr<SimUpdateFramework*> self_;
  SimUpdaterController* live_ = nullptr;
};

}  // namespace dravel::sim
