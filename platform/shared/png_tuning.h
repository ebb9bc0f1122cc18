// The PNG encoder's knobs behind each compression setting, for the encoder
// and the benchmarks that chose them.
#pragma once

#include <string>

#include "platform/shared/png_encoder.h"

namespace dravel::png_detail {

enum class PngFilter {
  kNone,
  kSub,
  kUp,
  kPaeth,
  // Per row, the filter whose output has the smallest sum of signed bytes.
  kAdaptive,
};

// Which deflate writes the bands: ISA-L's (levels 0 to 3, several times
// zlib's speed at its low levels) or zlib's (levels 0 to 9).
enum class PngDeflate { kIsal, kZlib };

struct PngTuning {
  PngDeflate deflate = PngDeflate::kIsal;
  int level = 2;     // the deflate's own level
  int strategy = 0;  // zlib's strategy (Z_DEFAULT_STRATEGY, Z_RLE...)
  PngFilter filter = PngFilter::kUp;
  int memLevel = 8;  // zlib's
};

PngTuning tuningFor(PngCompression compression);

bool encodePngTuned(const PngSource& source, const PngTuning& tuning, unsigned threads,
                    const PngOutput& sink, std::string* why);

}  // namespace dravel::png_detail
