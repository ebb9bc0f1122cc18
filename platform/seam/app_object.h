// Objects of the application that notifications name and the runtime
// describes by class.
#pragma once

#include <string>

namespace dravel {

// Anything that can be the object of a notification.
class AppObject {
 public:
  virtual ~AppObject() = default;
  // The bare class name, as the runtime describes the type (no module).
  virtual std::string className() const = 0;
};

}  // namespace dravel
