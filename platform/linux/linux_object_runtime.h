// The object runtime on Linux: there are no classes to look up or methods to
// replace, so every lookup is absent and the host keeps the toolkit's own
// cursors.
#pragma once

#include "platform/cursor.h"

namespace dravel::linux_platform {

class LinuxObjectRuntime : public ObjectRuntime {
 public:
  bool classNamed(const std::string&) override { return false; }
  std::optional<CursorFromKindImp> classMethodImplementation(const std::string&,
                                                             const std::string&) override {
    return std::nullopt;
  }
  bool setClassMethodImplementation(const std::string&, const std::string&,
                                    CursorFromKindImp) override {
    return false;
  }
};

}  // namespace dravel::linux_platform
