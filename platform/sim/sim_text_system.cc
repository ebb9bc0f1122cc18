#include "platform/sim/sim_text_system.h"

#include <cstring>

namespace dravel::sim {

Size SimTextSystem::sizeOfString(const std::string& text, const Font& font) {
  ++measurements;
  const double size = font.pointSize;
  double width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // a UTF-8 continuation byte: same character
    double advance;
    if (c == ' ' || (c < 0x80 && std::strchr("iljtfrI.,:;'!|", c))) {
      advance = 0.3;
    } else if (c < 0x80 && std::strchr("mwMW", c)) {
      advance = 0.9;
    } else if (c >= 'A' && c <= 'Z') {
      advance = font.weight == FontWeight::kSemibold ? 0.72 : 0.65;
    } else {
      advance = font.weight == FontWeight::kSemibold ? 0.65 : 0.55;
    }
    width += advance * size;
  }
  return {width, 1.2 * size};
}

}  // namespace dravel::sim
