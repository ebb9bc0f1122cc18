// Screen pixels as the X tools give them (xwd), and images as RGB for
// comparing pixel by pixel (grim's pictures are such images too).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam/captured_image.h"

namespace dravel::testing {

// Three bytes per pixel, red first, rows top first without gaps.
struct RgbImage {
  int64_t width = 0;
  int64_t height = 0;
  std::vector<uint8_t> rgb;

  // The part inside the rectangle (which must lie inside the image).
  RgbImage crop(int64_t x, int64_t y, int64_t w, int64_t h) const;
  // How many pixels differ from `other`, which must be of the same size;
  // -1 when the sizes differ.
  int64_t differingPixels(const RgbImage& other) const;
  // The pixel at (x, y) as 0xRRGGBB.
  uint32_t pixel(int64_t x, int64_t y) const;
};

// The whole screen now, read by `xwd -root -silent` (a 24- or 32-bit
// true-colour ZPixmap); absent when it fails or is no such image.
std::optional<RgbImage> xwdRoot();
// A captured image's colours (BGRX, BGRA or straight RGBA), alpha left out.
RgbImage rgbOf(const CapturedImage& image);
// A PNG file decoded into straight RGBA; empty (width 0) when unreadable.
CapturedImage pngFileImage(const std::string& path);

}  // namespace dravel::testing
