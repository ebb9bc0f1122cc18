// Text measurement as the platform lays text out.
#pragma once

#include <string>

#include "platform/seam/font.h"
#include "platform/seam/geometry.h"

namespace dravel {

// Measures text the way the platform lays it out: one line, no wrapping.
class TextSystem {
 public:
  virtual ~TextSystem() = default;
  // The size of `text` set in `font`: its advance width and its line height.
  virtual Size sizeOfString(const std::string& text, const Font& font) = 0;
};

}  // namespace dravel
