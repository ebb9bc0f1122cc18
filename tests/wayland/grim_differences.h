// A capture against grim's picture of the same output, pixel for pixel.
#pragma once

#include <string>

#include "platform/seam/captured_image.h"
#include "tests/support/wayland_oracles.h"

namespace dravel::testing {

// A description of the first difference, or empty when every pixel agrees.
inline std::string grimDifferences(const CapturedImage& image, const GrimImage& grim) {
  if (image.width != grim.width || image.height != grim.height) {
    return "size " + std::to_string(image.width) + "x" + std::to_string(image.height) + ", grim " +
           std::to_string(grim.width) + "x" + std::to_string(grim.height);
  }
  const bool rgba = image.format == PixelFormat::kRGBAStraight;
  for (int64_t y = 0; y < image.height; ++y) {
    for (int64_t x = 0; x < image.width; ++x) {
      const uint8_t* ours = &image.pixels[static_cast<size_t>(y * image.bytesPerRow + x * 4)];
      const uint8_t* theirs = &grim.rgb[static_cast<size_t>((y * image.width + x) * 3)];
      if (ours[rgba ? 0 : 2] != theirs[0] || ours[1] != theirs[1] ||
          ours[rgba ? 2 : 0] != theirs[2]) {
        return "pixel " + std::to_string(x) + "," + std::to_string(y) + " differs";
      }
    }
  }
  return "";
}

}  // namespace dravel::testing
