// Images drawn on demand: cursors carry one, views and menus draw them into
// the current graphics context of the platform's renderer.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "platform/seam/geometry.h"

namespace dravel {

// An image of a size in points whose content is drawn on demand by a handler,
// so that it is rendered at the resolution of wherever it is drawn. The
// handler draws into the current context, in the image's own point space
// (origin bottom left, unless flipped), and reports success.
class Image {
 public:
  using DrawingHandler = std::function<bool(const Rect& destination)>;

  static std::shared_ptr<Image> imageWithSize(Size size, bool flipped, DrawingHandler handler);

  Size size() const { return size_; }
  bool isFlipped() const { return flipped_; }
  // Draws the image scaled into `rect` of the current context. Returns what
  // the handler reported (false without a current context).
  bool drawInRect(const Rect& rect) const;

 private:
  Image(Size size, bool flipped, DrawingHandler handler)
      : size_(size), flipped_(flipped), handler_(std::move(handler)) {}
  Size size_;
  bool flipped_;
  DrawingHandler handler_;
};

}  // namespace dravel
