#include "platform/shared/png_check.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/shared/image_codec.h"

namespace dravel {
namespace {

uint32_t bigEndian(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}

bool isChunkType(const uint8_t* type) {
  return std::all_of(type, type + 4,
                     [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool typeIs(const uint8_t* type, const char (&name)[5]) {
  return std::memcmp(type, name, 4) == 0;
}

// The rows the image data holds, pass by pass, and how far the inflated
// bytes have come through them: at each row's start its filter byte.
class RowWalk {
 public:
  bool start(uint32_t width, uint32_t height, unsigned bitsPerPixel, bool interlaced) {
    static constexpr std::array<std::array<uint32_t, 4>, 7> kAdam7 = {{
        {0, 0, 8, 8},
        {4, 0, 8, 8},
        {0, 4, 4, 8},
        {2, 0, 4, 4},
        {0, 2, 2, 4},
        {1, 0, 2, 2},
        {0, 1, 1, 2},
    }};
    auto add = [&](uint64_t w, uint64_t h) {
      if (w > 0 && h > 0) passes_.push_back({h, (w * bitsPerPixel + 7) / 8 + 1});
    };
    if (interlaced) {
      for (const auto& [x0, y0, dx, dy] : kAdam7) {
        add(width > x0 ? (uint64_t{width} - x0 + dx - 1) / dx : 0,
            height > y0 ? (uint64_t{height} - y0 + dy - 1) / dy : 0);
      }
    } else {
      add(width, height);
    }
    if (passes_.empty()) return false;
    rowsLeft_ = passes_[0].rows;
    return true;
  }

  // Takes inflated bytes; false at a row with an unknown filter.
  bool take(const uint8_t* bytes, size_t count) {
    while (count > 0 && !complete()) {
      if (inRow_ == 0) {
        if (*bytes > 4) return false;
        ++bytes;
        --count;
        inRow_ = passes_[pass_].rowBytes - 1;
        endRowIfDone();
        continue;
      }
      const size_t skip = static_cast<size_t>(std::min<uint64_t>(count, inRow_));
      bytes += skip;
      count -= skip;
      inRow_ -= skip;
      endRowIfDone();
    }
    return true;
  }

  bool complete() const { return pass_ >= passes_.size(); }

 private:
  struct Pass {
    uint64_t rows;
    uint64_t rowBytes;  // the filter byte included
  };

  void endRowIfDone() {
    if (inRow_ != 0) return;
    if (--rowsLeft_ > 0) return;
    if (++pass_ < passes_.size()) rowsLeft_ = passes_[pass_].rows;
  }

  std::vector<Pass> passes_;
  size_t pass_ = 0;
  uint64_t rowsLeft_ = 0;
  uint64_t inRow_ = 0;  // bytes of the current row still to come; 0 before a filter byte
};

// The image data's zlib stream, inflated through a window.
class Inflation {
 public:
  Inflation() : state_(new inflate_state), window_(256 * 1024) {
    isal_inflate_init(state_.get());
    // The zlib wrapper: its header read, its Adler-32 checked at the end.
    state_->crc_flag = ISAL_ZLIB;
  }

  template <typename Rows>
  bool feed(const uint8_t* data, size_t size, Rows& rows) {
    state_->next_in = const_cast<uint8_t*>(data);
    state_->avail_in = static_cast<uint32_t>(size);
    while (!finished()) {
      const uint32_t before = state_->avail_in;
      state_->next_out = window_.data();
      state_->avail_out = static_cast<uint32_t>(window_.size());
      const int status = isal_inflate(state_.get());
      if (status != ISAL_DECOMP_OK) return false;
      const size_t made = window_.size() - state_->avail_out;
      if (!rows.take(window_.data(), made)) return false;
      // More chunks may carry the rest of the stream.
      if (state_->avail_in == 0 && made < window_.size()) break;
      if (made == 0 && state_->avail_in == before) return false;  // no way forward
    }
    return true;
  }

  bool finished() const { return state_->block_state == ISAL_BLOCK_FINISH; }

 private:
  std::unique_ptr<inflate_state> state_;
  std::vector<uint8_t> window_;
};

// Walks the chunks with the checks isDecodablePng describes, the image data
// going to `rows` (start(width, height, bits a pixel, interlaced), take(bytes,
// count), complete()).
template <typename Rows>
bool walkPng(std::span<const uint8_t> data, Rows& rows) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() < sizeof kSignature || !std::equal(kSignature, kSignature + 8, data.begin()))
    return false;
  try {
    Inflation inflation;
    bool header = false, palette = false, imageData = false, imageDataEnded = false;
    unsigned colourType = 0;
    for (size_t at = sizeof kSignature;;) {
      if (data.size() - at < 12) return false;
      const uint32_t length = bigEndian(data.data() + at);
      if (length > 0x7FFFFFFF || data.size() - at - 12 < length) return false;
      const uint8_t* type = data.data() + at + 4;
      const uint8_t* body = type + 4;
      at += 12 + size_t{length};
      if (!isChunkType(type)) return false;
      const bool critical = (type[0] & 0x20) == 0;
      const uLong crc = crc32(0, type, length + 4);
      if (crc != bigEndian(body + length)) {
        // A damaged ancillary chunk is passed over, as decoders do.
        if (critical) return false;
        continue;
      }
      if (!header) {
        if (!typeIs(type, "IHDR") || length != 13) return false;
        const uint32_t width = bigEndian(body), height = bigEndian(body + 4);
        const unsigned depth = body[8];
        colourType = body[9];
        if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
            !withinDecodeBound({width, height}) || body[10] != 0 || body[11] != 0 || body[12] > 1)
          return false;
        unsigned channels = 0;
        bool depthFits = depth == 8 || depth == 16;
        switch (colourType) {
          case 0:
            channels = 1;
            depthFits = depthFits || depth == 1 || depth == 2 || depth == 4;
            break;
          case 2:
            channels = 3;
            break;
          case 3:
            channels = 1;
            depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8;
            break;
          case 4:
            channels = 2;
            break;
          case 6:
            channels = 4;
            break;
          default:
            return false;
        }
        if (!depthFits || !rows.start(width, height, channels * depth, body[12] == 1)) return false;
        header = true;
        continue;
      }
      if (typeIs(type, "IDAT")) {
        if (imageDataEnded || (colourType == 3 && !palette)) return false;
        imageData = true;
        if (!inflation.feed(body, length, rows)) return false;
        continue;
      }
      if (imageData) imageDataEnded = true;
      if (typeIs(type, "IEND")) return imageDataEnded && inflation.finished() && rows.complete();
      if (typeIs(type, "PLTE")) {
        if (palette || imageData || length == 0 || length % 3 != 0 || length > 768) return false;
        palette = true;
        continue;
      }
      if (critical) return false;  // IHDR again, or a critical chunk not known
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Rows of 8-bit RGB or RGBA, not interlaced, unfiltered into straight RGBA
// as they come.
class RowDecoder {
 public:
  explicit RowDecoder(DecodedImage& image) : image_(image) {}

  bool start(uint32_t width, uint32_t height, unsigned bitsPerPixel, bool interlaced) {
    if (interlaced || (bitsPerPixel != 24 && bitsPerPixel != 32)) return false;
    bpp_ = bitsPerPixel / 8;
    rowBytes_ = size_t{width} * bpp_;
    line_.resize(rowBytes_ + 1);
    prev_.assign(rowBytes_, 0);
    cur_.resize(rowBytes_);
    image_.width = width;
    image_.height = height;
    image_.rgba.resize(size_t{width} * height * 4);
    return true;
  }

  bool take(const uint8_t* bytes, size_t count) {
    while (count > 0 && !complete()) {
      const size_t part = std::min(count, line_.size() - filled_);
      std::memcpy(line_.data() + filled_, bytes, part);
      filled_ += part;
      bytes += part;
      count -= part;
      if (filled_ < line_.size()) break;
      filled_ = 0;
      if (!unfilterRow()) return false;
    }
    return true;
  }

  bool complete() const { return y_ == image_.height; }

 private:
  bool unfilterRow() {
    const uint8_t* raw = line_.data() + 1;
    uint8_t* cur = cur_.data();
    const uint8_t* prev = prev_.data();
    const size_t n = rowBytes_, bpp = bpp_;
    switch (line_[0]) {
      case 0:
        std::memcpy(cur, raw, n);
        break;
      case 1:
        for (size_t i = 0; i < n; ++i)
          cur[i] = static_cast<uint8_t>(raw[i] + (i >= bpp ? cur[i - bpp] : 0));
        break;
      case 2:
        for (size_t i = 0; i < n; ++i) cur[i] = static_cast<uint8_t>(raw[i] + prev[i]);
        break;
      case 3:
        for (size_t i = 0; i < n; ++i)
          cur[i] = static_cast<uint8_t>(raw[i] + (((i >= bpp ? cur[i - bpp] : 0) + prev[i]) >> 1));
        break;
      case 4:
        for (size_t i = 0; i < n; ++i) {
          const int a = i >= bpp ? cur[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
          const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
          const int predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
          cur[i] = static_cast<uint8_t>(raw[i] + predicted);
        }
        break;
      default:
        return false;
    }
    uint8_t* out = image_.rgba.data() + size_t{y_} * image_.width * 4;
    if (bpp == 4) {
      std::memcpy(out, cur, n);
    } else {
      for (size_t x = 0; x < image_.width; ++x, out += 4, cur += 3) {
        out[0] = cur[0];
        out[1] = cur[1];
        out[2] = cur[2];
        out[3] = 255;
      }
    }
    std::swap(prev_, cur_);
    ++y_;
    return true;
  }

  DecodedImage& image_;
  size_t bpp_ = 4;
  size_t rowBytes_ = 0;
  std::vector<uint8_t> line_;  // the filter byte and the filtered row
  std::vector<uint8_t> prev_;
  std::vector<uint8_t> cur_;
  size_t filled_ = 0;
  uint32_t y_ = 0;
};

// Whether the file is one the row decoder takes: 8-bit RGB or RGBA, not
// interlaced, without a transparency chunk. Reads chunk headers only.
bool isCommonPng(std::span<const uint8_t> data) {
  if (data.size() < 8 + 8 + 13) return false;
  const uint8_t* header = data.data() + 16;
  if (!typeIs(data.data() + 12, "IHDR") || header[8] != 8 || (header[9] != 2 && header[9] != 6) ||
      header[12] != 0)
    return false;
  for (size_t at = 8; data.size() - at >= 12;) {
    const uint32_t length = bigEndian(data.data() + at);
    const uint8_t* type = data.data() + at + 4;
    if (typeIs(type, "tRNS")) return false;
    if (typeIs(type, "IDAT") || length > data.size() - at - 12) return true;
    at += 12 + size_t{length};
  }
  return true;
}

}  // namespace

bool isDecodablePng(std::span<const uint8_t> data) {
  RowWalk rows;
  return walkPng(data, rows);
}

std::optional<DecodedImage> decodeCommonPng(std::span<const uint8_t> data, bool* handled) {
  *handled = isCommonPng(data);
  if (!*handled) return std::nullopt;
  try {
    DecodedImage image;
    RowDecoder rows(image);
    if (!walkPng(data, rows)) return std::nullopt;
    return image;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace dravel
