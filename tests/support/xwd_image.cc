#include "tests/support/xwd_image.h"

#include <algorithm>
#include <cstring>

#include "platform/shared/image_codec.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {

namespace {

uint32_t bigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Where the bits of `mask` start, and whether they are 8 wide.
int shiftOf(uint32_t mask) {
  if (mask == 0) return -1;
  int shift = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  return mask == 0xFF ? shift : -1;
}

// An XWD file as `xwd` writes it; absent when it is not one of 32 bits a pixel.
std::optional<RgbImage> readXwd(const std::string& file) {
  constexpr size_t kHeaderFields = 25;
  if (file.size() < kHeaderFields * 4) return std::nullopt;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  uint32_t h[kHeaderFields];
  for (size_t i = 0; i < kHeaderFields; ++i) h[i] = bigEndian32(bytes + i * 4);
  const uint32_t headerSize = h[0], version = h[1], format = h[2], width = h[4], height = h[5],
                 byteOrder = h[7], bitsPerPixel = h[11], bytesPerLine = h[12], visualClass = h[13],
                 redMask = h[14], greenMask = h[15], blueMask = h[16], colours = h[19];
  // Version 7, ZPixmap, TrueColor or DirectColor, 32 bits a pixel.
  if (version != 7 || format != 2 || (visualClass != 4 && visualClass != 5) || bitsPerPixel != 32) {
    return std::nullopt;
  }
  const int red = shiftOf(redMask), green = shiftOf(greenMask), blue = shiftOf(blueMask);
  if (red < 0 || green < 0 || blue < 0) return std::nullopt;
  const size_t data = size_t{headerSize} + size_t{colours} * 12;
  if (bytesPerLine < width * 4 || file.size() < data + size_t{bytesPerLine} * height) {
    return std::nullopt;
  }
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.resize(size_t{width} * height * 3);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* row = bytes + data + size_t{y} * bytesPerLine;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = row + size_t{x} * 4;
      const uint32_t pixel =
          byteOrder == 0
              ? (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0])
              : bigEndian32(p);
      uint8_t* out = &image.rgb[(size_t{y} * width + x) * 3];
      out[0] = static_cast<uint8_t>(pixel >> red);
      out[1] = static_cast<uint8_t>(pixel >> green);
      out[2] = static_cast<uint8_t>(pixel >> blue);
    }
  }
  return image;
}

}  // namespace

RgbImage RgbImage::crop(int64_t x, int64_t y, int64_t w, int64_t h) const {
  RgbImage part;
  part.width = w;
  part.height = h;
  part.rgb.resize(static_cast<size_t>(w * h * 3));
  for (int64_t row = 0; row < h; ++row) {
    std::memcpy(&part.rgb[static_cast<size_t>(row * w * 3)],
                &rgb[static_cast<size_t>(((y + row) * width + x) * 3)], static_cast<size_t>(w * 3));
  }
  return part;
}

int64_t RgbImage::differingPixels(const RgbImage& other) const {
  if (other.width != width || other.height != height || other.rgb.size() != rgb.size()) return -1;
  int64_t count = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    count += !std::equal(&rgb[i], &rgb[i] + 3, &other.rgb[i]);
  }
  return count;
}

std::optional<RgbImage> xwdRoot() {
  std::string out;
  if (!runCommand({"xwd", "-root", "-silent"}, &out)) return std::nullopt;
  return readXwd(out);
}

uint32_t RgbImage::pixel(int64_t x, int64_t y) const {
  const uint8_t* p = &rgb[static_cast<size_t>((y * width + x) * 3)];
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

RgbImage rgbOf(const CapturedImage& image) {
  RgbImage rgb{image.width, image.height, {}};
  const bool straight = image.format == PixelFormat::kRGBAStraight;
  for (int64_t row = 0; row < image.height; ++row) {
    const uint8_t* p = image.pixels.data() + row * image.bytesPerRow;
    for (int64_t col = 0; col < image.width; ++col, p += 4) {
      rgb.rgb.insert(rgb.rgb.end(), {p[straight ? 0 : 2], p[1], p[straight ? 2 : 0]});
    }
  }
  return rgb;
}

CapturedImage pngFileImage(const std::string& path) {
  const std::string bytes = readFile(path);
  std::optional<DecodedImage> decoded = decodePng(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  CapturedImage image;
  if (!decoded) return image;
  image.width = decoded->width;
  image.height = decoded->height;
  image.bytesPerRow = image.width * 4;
  image.format = PixelFormat::kRGBAStraight;
  image.pixels = std::move(decoded->rgba);
  return image;
}

}  // namespace dravel::testing
