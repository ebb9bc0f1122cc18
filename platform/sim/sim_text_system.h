// Text measurement with fixed, made-up metrics, so that layout numbers are
// exact and the same everywhere. Rendering still draws real glyphs, fitted
// into the measured boxes.
#pragma once

#include "platform/shared/drawing.h"

namespace dravel::sim {

class SimTextSystem : public TextSystem {
 public:
  // Advance per character, in multiples of the point size: a space and the
  // narrow letters and punctuation "iljtfrI.,:;'!|" 0.3, the wide letters
  // "mwMW" 0.9, other capitals 0.65 (0.72 in semibold), every other
  // character 0.55 (0.65 in semibold). The line height is 1.2 times the point
  // size.
  Size sizeOfString(const std::string& text, const Font& font) override;

  int measurements = 0;
};

}  // namespace dravel::sim
