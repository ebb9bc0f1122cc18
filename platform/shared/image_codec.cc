#include "platform/shared/image_codec.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "platform/shared/cairo_pixels.h"
#include "platform/shared/png_check.h"
#include "platform/shared/png_encoder.h"

namespace dravel {
namespace {

// An image larger than kMaxDecodedPixels is treated as hostile or broken
// rather than allocated.
bool acceptableSize(uint64_t width, uint64_t height) {
  // Both factors fit in 32 bits, so the product cannot overflow 64 bits.
  return width > 0 && height > 0 && width * height <= kMaxDecodedPixels;
}

// Sizes the pixel buffer for the image, reporting failure instead of throwing.
bool allocatePixels(DecodedImage& image) {
  try {
    image.rgba.resize(size_t{image.width} * image.height * 4);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool hasConsistentPixels(const DecodedImage& image) {
  return image.width > 0 && image.height > 0 &&
         uint64_t{image.width} * image.height <= std::numeric_limits<size_t>::max() / 4 &&
         image.rgba.size() == size_t{image.width} * image.height * 4;
}

// ---------------------------------------------------------------------------
// PNG
//
// libpng reports errors by calling the error callback, which must not return;
// ours longjmps back to the setjmp in whichever of the small functions below
// is running. Those functions hold only trivially destructible locals and
// everything that owns memory lives in their callers, so nothing is skipped
// by the jump.

constexpr png_uint_32 kPngMaxDimension = 0x7fffffff;
constexpr png_alloc_size_t kPngMaxChunkBytes = png_alloc_size_t{8} << 20;

void pngError(png_structp png, png_const_charp /*message*/) {
  png_longjmp(png, 1);
}

void pngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct PngReadSource {
  const uint8_t* data;
  size_t size;
  size_t offset;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* source = static_cast<PngReadSource*>(png_get_io_ptr(png));
  if (length > source->size - source->offset) png_error(png, "truncated");
  std::memcpy(out, source->data + source->offset, length);
  source->offset += length;
}

// Reads the header and asks libpng to deliver 8-bit RGBA whatever the file
// holds. Fills in the dimensions; false when the header is bad or the image
// too large.
bool readPngHeader(png_structp png, png_infop info, DecodedImage* image) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  image->width = png_get_image_width(png, info);
  image->height = png_get_image_height(png, info);
  if (!acceptableSize(image->width, image->height)) return false;

  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  const bool hasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  if (hasTransparency) png_set_tRNS_to_alpha(png);
  if (bitDepth == 16) png_set_scale_16(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  if ((colorType & PNG_COLOR_MASK_ALPHA) == 0 && !hasTransparency) {
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_bit_depth(png, info) == 8 && png_get_channels(png, info) == 4 &&
         png_get_rowbytes(png, info) == size_t{image->width} * 4;
}

// Reads the pixels into `rows` and checks the rest of the file through IEND,
// so a file cut short anywhere is refused.
bool readPngPixels(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

// ---------------------------------------------------------------------------
// TIFF
//
// libtiff reports errors through return values, so no jumps here. Its
// messages go to handlers that drop them: the per-file ones set at open, plus
// the process-wide ones for the few messages raised without a file.

int tiffDropMessage(TIFF* /*tif*/, void* /*userData*/, const char* /*module*/,
                    const char* /*format*/, va_list /*args*/) {
  return 1;  // Handled; libtiff prints nothing further.
}

void silenceLibtiff() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

// The new offset for a seek on a stream of `size` bytes positioned at
// `current`, or -1 when it would land before the start. libtiff passes
// negative relative offsets as wrapped unsigned values.
toff_t seekedOffset(uint64_t current, uint64_t size, toff_t offset, int whence) {
  constexpr toff_t kFailed = static_cast<toff_t>(-1);
  if (whence == SEEK_SET) return offset;
  uint64_t base = 0;
  if (whence == SEEK_CUR) {
    base = current;
  } else if (whence == SEEK_END) {
    base = size;
  } else {
    return kFailed;
  }
  const auto delta = static_cast<int64_t>(offset);
  if (delta < 0) {
    const uint64_t back = uint64_t{0} - offset;
    return back > base ? kFailed : base - back;
  }
  const auto forward = static_cast<uint64_t>(delta);
  return forward >= kFailed - base ? kFailed : base + forward;
}

struct TiffSource {
  const uint8_t* data;
  uint64_t size;
  uint64_t offset;
};

tmsize_t tiffSourceRead(thandle_t handle, void* out, tmsize_t length) {
  auto* source = static_cast<TiffSource*>(handle);
  if (length <= 0 || source->offset >= source->size) return 0;
  const uint64_t count = std::min(static_cast<uint64_t>(length), source->size - source->offset);
  std::memcpy(out, source->data + source->offset, count);
  source->offset += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t tiffSourceWrite(thandle_t /*handle*/, void* /*data*/, tmsize_t /*length*/) {
  return 0;
}

toff_t tiffSourceSeek(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<TiffSource*>(handle);
  const toff_t next = seekedOffset(source->offset, source->size, offset, whence);
  if (next != static_cast<toff_t>(-1)) source->offset = next;
  return next;
}

toff_t tiffSourceSize(thandle_t handle) {
  return static_cast<TiffSource*>(handle)->size;
}

struct TiffSink {
  std::vector<uint8_t> bytes;
  uint64_t offset = 0;
};

tmsize_t tiffSinkWrite(thandle_t handle, void* data, tmsize_t length) {
  auto* sink = static_cast<TiffSink*>(handle);
  if (length <= 0) return 0;
  const uint64_t end = sink->offset + static_cast<uint64_t>(length);
  if (end > std::numeric_limits<size_t>::max()) return 0;
  try {
    if (end > sink->bytes.size()) sink->bytes.resize(end);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::memcpy(sink->bytes.data() + sink->offset, data, length);
  sink->offset = end;
  return length;
}

// libtiff reads back what it wrote when it updates a directory.
tmsize_t tiffSinkRead(thandle_t handle, void* out, tmsize_t length) {
  auto* sink = static_cast<TiffSink*>(handle);
  TiffSource view{sink->bytes.data(), sink->bytes.size(), sink->offset};
  const tmsize_t count = tiffSourceRead(&view, out, length);
  sink->offset = view.offset;
  return count;
}

toff_t tiffSinkSeek(thandle_t handle, toff_t offset, int whence) {
  auto* sink = static_cast<TiffSink*>(handle);
  const toff_t next = seekedOffset(sink->offset, sink->bytes.size(), offset, whence);
  if (next != static_cast<toff_t>(-1)) sink->offset = next;
  return next;
}

toff_t tiffSinkSize(thandle_t handle) {
  return static_cast<TiffSink*>(handle)->bytes.size();
}

int tiffClose(thandle_t /*handle*/) {
  return 0;
}

int tiffMap(thandle_t /*handle*/, void** /*base*/, toff_t* /*size*/) {
  return 0;
}

void tiffUnmap(thandle_t /*handle*/, void* /*base*/, toff_t /*size*/) {}

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

struct TiffOptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

TiffFile openTiff(const char* mode, thandle_t handle, TIFFReadWriteProc read,
                  TIFFReadWriteProc write, TIFFSeekProc seek, TIFFSizeProc size) {
  silenceLibtiff();
  std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), tiffDropMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), tiffDropMessage, nullptr);
  // Garbage can claim huge tables; cap what libtiff allocates for them.
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxTiffChunkBytes));
  return TiffFile(TIFFClientOpenExt("memory", mode, handle, read, write, seek, tiffClose, size,
                                    tiffMap, tiffUnmap, options.get()));
}

// Whether the file's own layout is already ours (8-bit RGB plus unassociated
// alpha, interleaved, top row first, in strips), so its scanlines can be
// copied as they are.
bool isStraightRgbaStrips(TIFF* tif, uint32_t width) {
  uint16_t photometric = 0;
  if (TIFFIsTiled(tif) || !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) ||
      photometric != PHOTOMETRIC_RGB) {
    return false;
  }
  const std::pair<uint32_t, uint16_t> required[] = {
      {TIFFTAG_BITSPERSAMPLE, 8},
      {TIFFTAG_SAMPLESPERPIXEL, 4},
      {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT},
      {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG},
      {TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT},
  };
  for (const auto& [tag, wanted] : required) {
    uint16_t value = 0;
    if (!TIFFGetFieldDefaulted(tif, tag, &value) || value != wanted) return false;
  }
  uint16_t extraCount = 0;
  uint16_t* extraTypes = nullptr;
  return TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) &&
         extraCount == 1 && extraTypes[0] == EXTRASAMPLE_UNASSALPHA &&
         TIFFScanlineSize64(tif) == uint64_t{width} * 4;
}

bool readScanlines(TIFF* tif, DecodedImage& image) {
  const size_t stride = size_t{image.width} * 4;
  for (uint32_t y = 0; y < image.height; ++y) {
    if (TIFFReadScanline(tif, image.rgba.data() + y * stride, y, 0) < 0) {
      return false;
    }
  }
  return true;
}

// Everything else goes through libtiff's RGBA conversion, which handles the
// other photometric interpretations, depths, tiles and orientations. Its
// raster carries associated alpha whatever the file stores (unassociated
// alpha is premultiplied on the way), so it is divided back out here.
bool readThroughRgbaRaster(TIFF* tif, DecodedImage& image) {
  // The raster is read straight into the image's own buffer (one 32-bit word
  // per pixel, as many bytes as the RGBA result) and converted in place, so
  // the decode never holds the pixels twice.
  static_assert(sizeof(uint32_t) == 4);
  uint8_t* bytes = image.rgba.data();
  if (reinterpret_cast<uintptr_t>(bytes) % alignof(uint32_t) != 0) return false;
  if (!TIFFReadRGBAImageOriented(tif, image.width, image.height, reinterpret_cast<uint32_t*>(bytes),
                                 ORIENTATION_TOPLEFT, 1)) {
    return false;
  }
  const size_t pixels = size_t{image.width} * image.height;
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t* out = bytes + i * 4;
    uint32_t pixel = 0;
    std::memcpy(&pixel, out, sizeof pixel);
    const uint32_t alpha = TIFFGetA(pixel);
    const uint32_t channels[3] = {TIFFGetR(pixel), TIFFGetG(pixel), TIFFGetB(pixel)};
    for (uint32_t value : channels) {
      *out++ = unpremultiply(value, alpha);
    }
    *out = static_cast<uint8_t>(alpha);
  }
  return true;
}

// Whether the strips or tiles libtiff would read are of a sane size: a small
// file can declare a single strip or tile far larger than its image.
bool acceptableChunks(TIFF* tif) {
  const uint64_t chunk = TIFFIsTiled(tif) ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  return chunk > 0 && chunk <= kMaxTiffChunkBytes;
}

bool hasPngSignature(std::span<const uint8_t> data) {
  return data.size() >= 8 && png_sig_cmp(data.data(), 0, 8) == 0;
}

bool hasTiffMagic(std::span<const uint8_t> data) {
  if (data.size() < 4) return false;
  // Classic TIFF is version 42, BigTIFF 43; libtiff reads both.
  const bool little =
      data[0] == 'I' && data[1] == 'I' && data[3] == 0 && (data[2] == 42 || data[2] == 43);
  const bool big =
      data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
  return little || big;
}

}  // namespace

std::optional<ImageSize> declaredImageSize(std::span<const uint8_t> data) {
  if (hasPngSignature(data)) {
    // The first chunk must be IHDR: length 13, type, width, height (big-endian).
    constexpr size_t kIhdrEnd = 8 + 8 + 13;
    if (data.size() < kIhdrEnd) return std::nullopt;
    auto be32 = [&](size_t at) {
      return uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 | uint32_t{data[at + 2]} << 8 |
             uint32_t{data[at + 3]};
    };
    if (be32(8) != 13 || std::memcmp(data.data() + 12, "IHDR", 4) != 0) return std::nullopt;
    return ImageSize{be32(16), be32(20)};
  }
  if (hasTiffMagic(data)) {
    // Strip and tile tables are loaded only when asked for ("O"): reading
    // the size takes the directory's entries, however long those tables.
    TiffSource source{data.data(), data.size(), 0};
    const TiffFile tif =
        openTiff("rO", &source, tiffSourceRead, tiffSourceWrite, tiffSourceSeek, tiffSourceSize);
    ImageSize size;
    if (!tif || !TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &size.width) ||
        !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &size.height)) {
      return std::nullopt;
    }
    return size;
  }
  return std::nullopt;
}

bool withinDecodeBound(const ImageSize& size) {
  return acceptableSize(size.width, size.height);
}

std::optional<DecodedImage> decodeImage(std::span<const uint8_t> data) {
  if (hasPngSignature(data)) return decodePng(data);
  if (hasTiffMagic(data)) return decodeTiff(data);
  return std::nullopt;
}

std::optional<DecodedImage> decodePng(std::span<const uint8_t> data) {
  bool handled = false;
  std::optional<DecodedImage> common = decodeCommonPng(data, &handled);
  if (handled) return common;
  return decodePngWithLibpng(data);
}

std::optional<DecodedImage> decodePngWithLibpng(std::span<const uint8_t> data) {
  if (!hasPngSignature(data)) return std::nullopt;
  PngReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
  if (!reader.png) return std::nullopt;
  reader.info = png_create_info_struct(reader.png);
  if (!reader.info) return std::nullopt;
  // Our own size limit is the one that matters; libpng's default would refuse
  // wide but short images that are fine.
  png_set_user_limits(reader.png, kPngMaxDimension, kPngMaxDimension);
  // Text and profile chunks are inflated into memory too: keep that small.
  png_set_chunk_malloc_max(reader.png, kPngMaxChunkBytes);
  PngReadSource source{data.data(), data.size(), 0};
  png_set_read_fn(reader.png, &source, pngRead);

  DecodedImage image;
  if (!readPngHeader(reader.png, reader.info, &image)) return std::nullopt;
  if (!allocatePixels(image)) return std::nullopt;
  std::vector<png_bytep> rows;
  try {
    rows.resize(image.height);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  const size_t stride = size_t{image.width} * 4;
  for (uint32_t y = 0; y < image.height; ++y) {
    rows[y] = image.rgba.data() + y * stride;
  }
  if (!readPngPixels(reader.png, rows.data())) return std::nullopt;
  return image;
}

std::optional<DecodedImage> decodeTiff(std::span<const uint8_t> data) {
  if (!hasTiffMagic(data)) return std::nullopt;
  TiffSource source{data.data(), data.size(), 0};
  const TiffFile tif =
      openTiff("r", &source, tiffSourceRead, tiffSourceWrite, tiffSourceSeek, tiffSourceSize);
  if (!tif) return std::nullopt;
  DecodedImage image;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &image.width) ||
      !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &image.height) ||
      !acceptableSize(image.width, image.height) || !acceptableChunks(tif.get()) ||
      !allocatePixels(image)) {
    return std::nullopt;
  }
  const bool read = isStraightRgbaStrips(tif.get(), image.width)
                        ? readScanlines(tif.get(), image)
                        : readThroughRgbaRaster(tif.get(), image);
  if (!read) return std::nullopt;
  return image;
}

std::optional<std::vector<uint8_t>> encodePng(const DecodedImage& image) {
  if (!hasConsistentPixels(image) || image.width > kPngMaxDimension ||
      image.height > kPngMaxDimension) {
    return std::nullopt;
  }
  PngSource source;
  source.pixels = image.rgba.data();
  source.width = image.width;
  source.height = image.height;
  source.bytesPerRow = size_t{image.width} * 4;
  source.layout = PngSourceLayout::kStraightRgba;
  return encodePngBytes(source);
}

std::optional<std::vector<uint8_t>> encodeTiff(const DecodedImage& image) {
  if (!hasConsistentPixels(image)) return std::nullopt;
  TiffSink sink;
  {
    const TiffFile tif =
        openTiff("w", &sink, tiffSinkRead, tiffSinkWrite, tiffSinkSeek, tiffSinkSize);
    if (!tif) return std::nullopt;
    TIFF* t = tif.get();
    const uint16_t extraTypes[] = {EXTRASAMPLE_UNASSALPHA};
    const bool tagged = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, image.width) &&
                        TIFFSetField(t, TIFFTAG_IMAGELENGTH, image.height) &&
                        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) &&
                        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4) &&
                        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extraTypes) &&
                        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
                        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                        TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
                        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
                        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (!tagged) return std::nullopt;
    // libtiff's scanline writer takes a mutable buffer, so rows go through a
    // copy rather than casting away the image's constness.
    const size_t stride = size_t{image.width} * 4;
    std::vector<uint8_t> row;
    try {
      row.resize(stride);
    } catch (const std::bad_alloc&) {
      return std::nullopt;
    }
    for (uint32_t y = 0; y < image.height; ++y) {
      std::memcpy(row.data(), image.rgba.data() + y * stride, stride);
      if (TIFFWriteScanline(t, row.data(), y, 0) < 0) return std::nullopt;
    }
    if (!TIFFWriteDirectory(t)) return std::nullopt;
  }
  return std::move(sink.bytes);
}

}  // namespace dravel
