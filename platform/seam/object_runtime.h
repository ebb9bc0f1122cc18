// Mouse cursors, and the embedding's lookup from a cursor kind name to a
// cursor, which the object runtime lets the host find by class and method
// name and replace.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/seam/geometry.h"
#include "platform/seam/image.h"

namespace dravel {

class Cursor {
 public:
  // A cursor of `image` with its hot spot in image points from the top left.
  // `name` names the system's own cursors; custom ones have none.
  Cursor(std::shared_ptr<Image> image, Point hotSpot, std::string name = "")
      : image_(std::move(image)), hotSpot_(hotSpot), name_(std::move(name)) {}

  const std::shared_ptr<Image>& image() const { return image_; }
  Point hotSpot() const { return hotSpot_; }
  const std::string& name() const { return name_; }

 private:
  std::shared_ptr<Image> image_;
  Point hotSpot_;
  std::string name_;
};

// The implementation of a class method that takes a kind name and returns a
// cursor. It receives the class name, the method's selector and the kind.
using CursorFromKindImp = std::function<std::shared_ptr<Cursor>(
    const std::string& className, const std::string& selector, const std::string& kind)>;

// The object runtime: classes and their class methods, found by name.
class ObjectRuntime {
 public:
  virtual ~ObjectRuntime() = default;
  // True when a class of that name exists.
  virtual bool classNamed(const std::string& className) = 0;
  // The current implementation of a class method, absent when the class or
  // the method does not exist.
  virtual std::optional<CursorFromKindImp> classMethodImplementation(
      const std::string& className, const std::string& selector) = 0;
  // Replaces the implementation; false when there is no such method.
  virtual bool setClassMethodImplementation(const std::string& className,
                                            const std::string& selector,
                                            CursorFromKindImp implementation) = 0;
};

}  // namespace dravel
