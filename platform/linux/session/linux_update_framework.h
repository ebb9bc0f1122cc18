// Updates on Linux come from the package manager: the updater framework is
// not in the process, and the host's updater says so.
#pragma once

#include <memory>
#include <string>

#include "platform/seam/update_framework.h"

namespace dravel::linux_platform {

class AbsentUpdateFramework : public UpdateFramework {
 public:
  bool classNamed(const std::string&) override { return false; }
  std::unique_ptr<UpdaterController> makeStandardUpdaterController(
      bool, std::weak_ptr<UpdaterDelegate>) override {
    return nullptr;
  }
  std::string updatesComeFrom() const override { return "the package manager"; }
};

}  // namespace dravel::linux_platform
