// Checking that PNG data decodes without decoding it (several times faster
// than a decode, and without the image's memory), and decoding the common
// kind quickly.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/shared/image_codec.h"

namespace dravel {

// Whether `data` is a PNG that decodes: whole chunks, the critical ones with
// their checksums right and none unknown; a valid header within the decode
// bound (kMaxDecodedPixels); a palette where the colour type needs one; image
// data, in one run of chunks, that inflates (checksum included) to at least
// every row the header declares, each row with a known filter; an end chunk.
// The rows are inflated through a small window and never kept.
bool isDecodablePng(std::span<const uint8_t> data);

// Decodes the PNGs screenshots are (8-bit RGB or RGBA, not interlaced, no
// transparency chunk) with the same checks, unfiltering rows as they are
// inflated: several times quicker than libpng. `handled` is false for any
// other PNG, which is left to libpng.
std::optional<DecodedImage> decodeCommonPng(std::span<const uint8_t> data, bool* handled);

}  // namespace dravel
