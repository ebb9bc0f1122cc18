#include "platform/shared/png_encoder.h"

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "platform/shared/parallel_for.h"
#include "platform/shared/png_tuning.h"

namespace dravel {

namespace png_detail {

PngTuning tuningFor(PngCompression compression) {
  switch (compression) {
    case PngCompression::kFast:
      return {PngDeflate::kIsal, 2, Z_DEFAULT_STRATEGY, PngFilter::kUp, 8};
    case PngCompression::kDefault:
      return {PngDeflate::kZlib, 3, Z_DEFAULT_STRATEGY, PngFilter::kAdaptive, 8};
    case PngCompression::kSmall:
      return {PngDeflate::kZlib, 9, Z_DEFAULT_STRATEGY, PngFilter::kAdaptive, 9};
  }
  return {};
}

}  // namespace png_detail

using png_detail::PngDeflate;
using png_detail::PngFilter;
using png_detail::PngTuning;

std::optional<PngCompression> pngCompressionNamed(std::string_view name) {
  if (name == "fast") return PngCompression::kFast;
  if (name == "default") return PngCompression::kDefault;
  if (name == "small") return PngCompression::kSmall;
  return std::nullopt;
}

namespace {

// A window of history: what a band is primed with from the rows before it.
constexpr size_t kWindow = 32768;
// Bands are at least this many bytes of rows, so that their flushes and
// thread hand-offs cost nothing next to their work.
constexpr size_t kMinBandBytes = 256 * 1024;
// Filtered rows handed to the compressor at once.
constexpr size_t kBatchBytes = 64 * 1024;
// PNG's largest width or height.
constexpr uint32_t kMaxDimension = 0x7FFFFFFF;

void putBigEndian(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

// A chunk's length and type before `data`, its CRC after it: `chunk` holds 8
// bytes of room, the data, and 4 more bytes of room.
void sealChunk(std::vector<uint8_t>& chunk, const char type[4]) {
  const size_t dataLength = chunk.size() - 12;
  putBigEndian(chunk.data(), static_cast<uint32_t>(dataLength));
  std::memcpy(chunk.data() + 4, type, 4);
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(dataLength + 4));
  putBigEndian(chunk.data() + chunk.size() - 4, static_cast<uint32_t>(crc));
}

std::vector<uint8_t> chunkOf(const char type[4], std::span<const uint8_t> data) {
  std::vector<uint8_t> chunk(data.size() + 12);
  if (!data.empty()) std::memcpy(chunk.data() + 8, data.data(), data.size());
  sealChunk(chunk, type);
  return chunk;
}

bool rowsOpaque(const PngSource& source, uint32_t first, uint32_t end) {
  for (uint32_t y = first; y < end; ++y) {
    const uint8_t* row = source.pixels + static_cast<size_t>(y) * source.bytesPerRow;
    uint32_t all = 0xFFFFFFFF;
    for (uint32_t x = 0; x < source.width; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, row + static_cast<size_t>(x) * 4, 4);
      all &= pixel;
    }
    // Alpha is the fourth byte in both layouts: the top byte of a
    // little-endian word.
    if ((all >> 24) != 0xFF) return false;
  }
  return true;
}

uint8_t unpremultiplied(unsigned colour, unsigned alpha) {
  const unsigned v = (colour * 255 + alpha / 2) / alpha;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// Row `y` of the source as straight RGB (opaque) or RGBA.
void convertRow(const PngSource& source, uint32_t y, bool opaque, uint8_t* out) {
  const uint8_t* in = source.pixels + static_cast<size_t>(y) * source.bytesPerRow;
  const uint32_t width = source.width;
  if (source.layout == PngSourceLayout::kStraightRgba) {
    if (!opaque) {
      std::memcpy(out, in, static_cast<size_t>(width) * 4);
      return;
    }
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
    return;
  }
  if (opaque) {
    for (uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
    const unsigned a = in[3];
    if (a == 255) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    } else if (a == 0) {
      out[0] = out[1] = out[2] = 0;
    } else {
      out[0] = unpremultiplied(in[2], a);
      out[1] = unpremultiplied(in[1], a);
      out[2] = unpremultiplied(in[0], a);
    }
    out[3] = static_cast<uint8_t>(a);
  }
}

inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Writes the filter type byte and the filtered row into `out`.
void applyFilter(int type, const uint8_t* cur, const uint8_t* prev, size_t n, size_t bpp,
                 uint8_t* out) {
  out[0] = static_cast<uint8_t>(type);
  uint8_t* o = out + 1;
  switch (type) {
    case 0:
      std::memcpy(o, cur, n);
      break;
    case 1:
      std::memcpy(o, cur, std::min(bpp, n));
      for (size_t i = bpp; i < n; ++i) o[i] = static_cast<uint8_t>(cur[i] - cur[i - bpp]);
      break;
    case 2:
      for (size_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(cur[i] - prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < std::min(bpp, n); ++i)
        o[i] = static_cast<uint8_t>(cur[i] - prev[i] / 2);
      for (size_t i = bpp; i < n; ++i)
        o[i] = static_cast<uint8_t>(cur[i] - ((cur[i - bpp] + prev[i]) >> 1));
      break;
    default:
      for (size_t i = 0; i < std::min(bpp, n); ++i) o[i] = static_cast<uint8_t>(cur[i] - prev[i]);
      for (size_t i = bpp; i < n; ++i)
        o[i] = static_cast<uint8_t>(cur[i] - paeth(cur[i - bpp], prev[i], prev[i - bpp]));
      break;
  }
}

// The usual measure of how well a filtered row will compress: the sum of
// its bytes taken as signed.
uint64_t signedSum(const uint8_t* row, size_t n) {
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += row[i] < 128 ? row[i] : 256 - row[i];
  return sum;
}

struct Geometry {
  size_t bpp = 4;
  size_t rowBytes = 0;  // of the converted row, without the filter byte
  bool opaque = false;
};

// Filters rows, keeping the previous converted row for the next one.
class RowFilter {
 public:
  RowFilter(const PngSource& source, const Geometry& geometry, PngFilter filter)
      : source_(source),
        geometry_(geometry),
        filter_(filter),
        prev_(geometry.rowBytes, 0),
        cur_(geometry.rowBytes),
        candidate_(geometry.rowBytes + 1) {}

  // Starts before row `y`: the row above it is converted as history.
  void startAt(uint32_t y) {
    if (y == 0) {
      std::fill(prev_.begin(), prev_.end(), 0);
    } else {
      convertRow(source_, y - 1, geometry_.opaque, prev_.data());
    }
  }

  // Converts and filters the next row (`y`) into `out` (rowBytes + 1).
  void filterRow(uint32_t y, uint8_t* out) {
    convertRow(source_, y, geometry_.opaque, cur_.data());
    const size_t n = geometry_.rowBytes;
    const size_t bpp = geometry_.bpp;
    switch (filter_) {
      case PngFilter::kNone:
        applyFilter(0, cur_.data(), prev_.data(), n, bpp, out);
        break;
      case PngFilter::kSub:
        applyFilter(1, cur_.data(), prev_.data(), n, bpp, out);
        break;
      case PngFilter::kUp:
        applyFilter(2, cur_.data(), prev_.data(), n, bpp, out);
        break;
      case PngFilter::kPaeth:
        applyFilter(4, cur_.data(), prev_.data(), n, bpp, out);
        break;
      case PngFilter::kAdaptive: {
        uint64_t best = UINT64_MAX;
        for (int type = 0; type <= 4; ++type) {
          applyFilter(type, cur_.data(), prev_.data(), n, bpp, candidate_.data());
          const uint64_t sum = signedSum(candidate_.data() + 1, n);
          if (sum < best) {
            best = sum;
            std::memcpy(out, candidate_.data(), n + 1);
          }
        }
        break;
      }
    }
    std::swap(prev_, cur_);
  }

 private:
  const PngSource& source_;
  const Geometry& geometry_;
  PngFilter filter_;
  std::vector<uint8_t> prev_;
  std::vector<uint8_t> cur_;
  std::vector<uint8_t> candidate_;
};

struct Band {
  uint32_t first = 0;
  uint32_t end = 0;
  bool last = false;
  // The finished IDAT chunk.
  std::vector<uint8_t> chunk;
  uLong adler = 1;
  size_t filteredBytes = 0;
  const char* failure = nullptr;
};

// A raw deflate stream for one band: primed with a window, fed rows, ended
// with a sync flush (a byte boundary, not final) or, for the last band,
// finished.
class Deflater {
 public:
  explicit Deflater(const PngTuning& tuning) : isal_(tuning.deflate == PngDeflate::kIsal) {
    if (isal_) {
      static constexpr uint32_t kLevelBuffer[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                                  ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
      const int level = std::clamp(tuning.level, 0, 3);
      isal_deflate_init(&isalStream_);
      levelBuffer_.resize(kLevelBuffer[level]);
      isalStream_.level = static_cast<uint32_t>(level);
      isalStream_.level_buf = levelBuffer_.data();
      isalStream_.level_buf_size = static_cast<uint32_t>(levelBuffer_.size());
      isalStream_.gzip_flag = IGZIP_DEFLATE;
      ok_ = true;
      return;
    }
    ok_ = deflateInit2(&zStream_, tuning.level, Z_DEFLATED, -15, tuning.memLevel,
                       tuning.strategy) == Z_OK;
  }
  ~Deflater() {
    if (ok_ && !isal_) deflateEnd(&zStream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool ok() const { return ok_; }
  bool prime(const uint8_t* data, size_t size) {
    if (isal_)
      return isal_deflate_set_dict(&isalStream_, const_cast<uint8_t*>(data),
                                   static_cast<uint32_t>(size)) == COMP_OK;
    return deflateSetDictionary(&zStream_, data, static_cast<uInt>(size)) == Z_OK;
  }

  enum class Flush { kNone, kSync, kFinish };

  // Deflates `size` bytes into `out` from `used` on (growing it, `used`
  // moving on).
  bool feed(const uint8_t* data, size_t size, Flush flush, std::vector<uint8_t>& out,
            size_t& used) {
    return isal_ ? feedIsal(data, size, flush, out, used) : feedZlib(data, size, flush, out, used);
  }

  // About the most a band of `size` bytes deflates to, flush included (the
  // output still grows past it if need be).
  size_t bound(size_t size) {
    if (isal_) return size + size / 16 + 1024;
    return deflateBound(&zStream_, static_cast<uLong>(size)) + 64;
  }

 private:
  static void makeRoom(std::vector<uint8_t>& out, size_t used) {
    if (out.size() - used < 4096) out.resize(out.size() * 2 + 65536);
  }

  bool feedZlib(const uint8_t* data, size_t size, Flush flush, std::vector<uint8_t>& out,
                size_t& used) {
    const int mode = flush == Flush::kNone   ? Z_NO_FLUSH
                     : flush == Flush::kSync ? Z_SYNC_FLUSH
                                             : Z_FINISH;
    zStream_.next_in = const_cast<Bytef*>(data);
    zStream_.avail_in = static_cast<uInt>(size);
    for (;;) {
      makeRoom(out, used);
      const size_t room = std::min<size_t>(out.size() - used, UINT32_MAX);
      zStream_.next_out = out.data() + used;
      zStream_.avail_out = static_cast<uInt>(room);
      const int status = deflate(&zStream_, mode);
      used += room - zStream_.avail_out;
      if (status == Z_STREAM_ERROR) return false;
      if (mode == Z_FINISH) {
        if (status == Z_STREAM_END) return true;
        continue;
      }
      if (zStream_.avail_in == 0 && zStream_.avail_out != 0) return true;
    }
  }

  bool feedIsal(const uint8_t* data, size_t size, Flush flush, std::vector<uint8_t>& out,
                size_t& used) {
    isalStream_.next_in = const_cast<uint8_t*>(data);
    isalStream_.avail_in = static_cast<uint32_t>(size);
    isalStream_.flush = flush == Flush::kSync ? SYNC_FLUSH : NO_FLUSH;
    isalStream_.end_of_stream = flush == Flush::kFinish ? 1 : 0;
    for (;;) {
      makeRoom(out, used);
      const size_t room = std::min<size_t>(out.size() - used, UINT32_MAX);
      isalStream_.next_out = out.data() + used;
      isalStream_.avail_out = static_cast<uint32_t>(room);
      if (isal_deflate(&isalStream_) != COMP_OK) return false;
      used += room - isalStream_.avail_out;
      // Done once the input is taken and, when flushing or finishing, the
      // output had room to spare (all of it is out).
      if (isalStream_.avail_in != 0 || isalStream_.avail_out == 0) continue;
      if (flush == Flush::kFinish && isalStream_.internal_state.state != ZSTATE_END) continue;
      return true;
    }
  }

  bool isal_;
  bool ok_ = false;
  z_stream zStream_{};
  isal_zstream isalStream_{};
  std::vector<uint8_t> levelBuffer_;
};

void encodeBand(const PngSource& source, const Geometry& geometry, const PngTuning& tuning,
                const uint8_t zlibHeader[2], Band& band) {
  try {
    const size_t lineBytes = geometry.rowBytes + 1;
    Deflater deflater(tuning);
    if (!deflater.ok()) {
      band.failure = "the compressor could not start";
      return;
    }
    RowFilter filter(source, geometry, tuning.filter);
    // The filtered rows just above the band, the window a single stream
    // would have there.
    if (band.first > 0) {
      const uint32_t rows = static_cast<uint32_t>(
          std::min<size_t>(band.first, (kWindow + lineBytes - 1) / lineBytes));
      std::vector<uint8_t> history(static_cast<size_t>(rows) * lineBytes);
      filter.startAt(band.first - rows);
      for (uint32_t i = 0; i < rows; ++i)
        filter.filterRow(band.first - rows + i, history.data() + i * lineBytes);
      const size_t keep = std::min(history.size(), kWindow);
      if (!deflater.prime(history.data() + history.size() - keep, keep)) {
        band.failure = "the compressor could not be primed";
        return;
      }
    } else {
      filter.startAt(0);
    }
    const size_t bandBytes = static_cast<size_t>(band.end - band.first) * lineBytes;
    // Room for the chunk's length and type, the zlib header and the most
    // the band can deflate to: written once, never grown.
    band.chunk.resize(10 + deflater.bound(bandBytes));
    size_t used = 8;
    if (band.first == 0) {
      std::memcpy(band.chunk.data() + used, zlibHeader, 2);
      used += 2;
    }
    // Rows go to the compressor a batch at a time: a call per row costs the
    // faster compressor more than its work on the row.
    const uint32_t batchRows = static_cast<uint32_t>(std::max<size_t>(1, kBatchBytes / lineBytes));
    std::vector<uint8_t> batch(static_cast<size_t>(batchRows) * lineBytes);
    for (uint32_t y = band.first; y < band.end;) {
      const uint32_t rows = std::min(batchRows, band.end - y);
      for (uint32_t i = 0; i < rows; ++i) filter.filterRow(y + i, batch.data() + i * lineBytes);
      y += rows;
      const size_t bytes = static_cast<size_t>(rows) * lineBytes;
      band.adler = isal_adler32(static_cast<uint32_t>(band.adler), batch.data(), bytes);
      const auto flush = y < band.end
                             ? Deflater::Flush::kNone
                             : (band.last ? Deflater::Flush::kFinish : Deflater::Flush::kSync);
      if (!deflater.feed(batch.data(), bytes, flush, band.chunk, used)) {
        band.failure = "the compressor failed";
        return;
      }
    }
    band.filteredBytes = bandBytes;
    band.chunk.resize(used + 4);
    sealChunk(band.chunk, "IDAT");
  } catch (const std::bad_alloc&) {
    band.chunk = {};
    band.failure = "out of memory";
  } catch (const std::length_error&) {
    band.chunk = {};
    band.failure = "out of memory";
  }
}

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

}  // namespace

namespace png_detail {

bool encodePngTuned(const PngSource& source, const PngTuning& tuning, unsigned threads,
                    const PngOutput& sink, std::string* why) {
  if (!source.pixels || source.width == 0 || source.height == 0)
    return fail(why, "the image has no pixels");
  if (source.width > kMaxDimension || source.height > kMaxDimension ||
      size_t{source.width} > SIZE_MAX / 4 - 1)
    return fail(why, "the image is too large for PNG");
  if (source.bytesPerRow < static_cast<size_t>(source.width) * 4)
    return fail(why, "the image's rows are shorter than its width");
  threads = threadCount(threads);

  Geometry geometry;
  try {
    // Opaque (every screen is) goes as RGB: a quarter less to compress.
    const uint32_t scanBands = std::min<uint32_t>(source.height, threads);
    std::vector<char> opaque(scanBands, 1);
    parallelFor(scanBands, threads, [&](size_t i) {
      const uint32_t first = static_cast<uint32_t>(uint64_t{source.height} * i / scanBands);
      const uint32_t end = static_cast<uint32_t>(uint64_t{source.height} * (i + 1) / scanBands);
      opaque[i] = rowsOpaque(source, first, end);
    });
    geometry.opaque = std::all_of(opaque.begin(), opaque.end(), [](char o) { return o != 0; });
  } catch (const std::bad_alloc&) {
    return fail(why, "out of memory");
  }
  geometry.bpp = geometry.opaque ? 3 : 4;
  geometry.rowBytes = static_cast<size_t>(source.width) * geometry.bpp;
  const size_t lineBytes = geometry.rowBytes + 1;

  // Several bands a thread, so that one slow band does not hold the rest.
  const size_t wantedBands = threads == 1 ? 1 : size_t{threads} * 4;
  const size_t minRows = std::max<size_t>(1, kMinBandBytes / lineBytes);
  const size_t rowsPerBand =
      std::max(minRows, (static_cast<size_t>(source.height) + wantedBands - 1) / wantedBands);
  std::vector<Band> bands;
  try {
    for (size_t first = 0; first < source.height; first += rowsPerBand) {
      Band band;
      band.first = static_cast<uint32_t>(first);
      band.end = static_cast<uint32_t>(std::min<size_t>(source.height, first + rowsPerBand));
      bands.push_back(std::move(band));
    }
  } catch (const std::bad_alloc&) {
    return fail(why, "out of memory");
  }
  bands.back().last = true;
  // CMF 0x78 (deflate, 32 KiB window) and a level hint; the pair is a
  // multiple of 31.
  const uint8_t flevel = tuning.level <= 1   ? 0x01
                         : tuning.level <= 5 ? 0x5E
                         : tuning.level == 6 ? 0x9C
                                             : 0xDA;
  const uint8_t zlibHeader[2] = {0x78, flevel};
  parallelFor(bands.size(), threads,
              [&](size_t i) { encodeBand(source, geometry, tuning, zlibHeader, bands[i]); });
  for (const Band& band : bands) {
    if (band.failure) return fail(why, std::string("PNG encoding failed: ") + band.failure);
  }

  uLong adler = 1;
  for (const Band& band : bands)
    adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.filteredBytes));
  try {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t header[13];
    putBigEndian(header, source.width);
    putBigEndian(header + 4, source.height);
    header[8] = 8;                             // bits per sample
    header[9] = geometry.opaque ? 2 : 6;       // RGB or RGBA
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, no interlace
    uint8_t checksum[4];
    putBigEndian(checksum, static_cast<uint32_t>(adler));
    if (!sink(kSignature) || !sink(chunkOf("IHDR", header)))
      return fail(why, "the PNG could not be written");
    for (Band& band : bands) {
      const bool written = sink(band.chunk);
      band.chunk = {};
      if (!written) return fail(why, "the PNG could not be written");
    }
    if (!sink(chunkOf("IDAT", checksum)) || !sink(chunkOf("IEND", {})))
      return fail(why, "the PNG could not be written");
  } catch (const std::bad_alloc&) {
    return fail(why, "out of memory");
  }
  return true;
}

}  // namespace png_detail

bool encodePngTo(const PngSource& source, const PngEncodeOptions& options, const PngOutput& sink,
                 std::string* why) {
  return png_detail::encodePngTuned(source, png_detail::tuningFor(options.compression),
                                    options.threads, sink, why);
}

std::optional<std::vector<uint8_t>> encodePngBytes(const PngSource& source,
                                                   const PngEncodeOptions& options,
                                                   std::string* why) {
  std::vector<uint8_t> file;
  try {
    const bool ok = encodePngTo(
        source, options,
        [&file](std::span<const uint8_t> bytes) {
          file.insert(file.end(), bytes.begin(), bytes.end());
          return true;
        },
        why);
    if (!ok) return std::nullopt;
  } catch (const std::bad_alloc&) {
    if (why) *why = "out of memory";
    return std::nullopt;
  }
  return file;
}

}  // namespace dravel
