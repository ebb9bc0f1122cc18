// Fonts as the host names them; the platform decides the face they render
// with and measures text set in them (text_system.h).
#pragma once

#include <string>

namespace dravel {

enum class FontWeight { kRegular, kSemibold };

// A font as the host asks for it. The platform decides the face; `family` is
// the Pango family used when the text is rendered.
struct Font {
  std::string family;
  double pointSize = 0;
  FontWeight weight = FontWeight::kRegular;
  bool operator==(const Font&) const = default;

  // The standard menu font; a size of 0 means the menu's default size.
  static Font menuFontOfSize(double size);
  // The system font at the given size and weight.
  static Font systemFontOfSize(double size, FontWeight weight);
};

// The menu font's default size.
inline constexpr double kMenuFontDefaultSize = 14.0;

}  // namespace dravel
