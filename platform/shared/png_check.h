// Checking that PNG data decodes, without decoding it: several times faster
// than a decode, and without the image's memory.
#pragma once

#include <cstdint>
#include <span>

namespace dravel {

// Whether `data` is a PNG that decodes: whole chunks, the critical ones with
// their checksums right and none unknown; a valid header within the decode
// bound (kMaxDecodedPixels); a palette where the colour type needs one; image
// data, in one run of chunks, that inflates (checksum included) to at least
// every row the header declares, each row with a known filter; an end chunk.
// The rows are inflated through a small window and never kept.
bool isDecodablePng(std::span<const uint8_t> data);

}  // namespace dravel
