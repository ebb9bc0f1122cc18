// PNG files for tests of image limits, made without holding their pixels.
#pragma once

#include <cstdint>

#include "channels/value.h"
#include "platform/shared/image_codec.h"

namespace dravel::testing {

// RGBA pixels of noise from `seed`, which no PNG compresses; opaque or with
// noise for alpha too.
DecodedImage noiseImage(uint32_t width, uint32_t height, uint32_t seed, bool opaque);

// A valid RGBA PNG of one grey level, written row by row.
ByteBuffer uniformPng(uint32_t width, uint32_t height, uint8_t grey);

// A PNG whose header declares `width` x `height` RGBA pixels but whose image
// data holds only a few kilobytes of rows: what an image bomb looks like up
// to the point where a decoder commits to its size.
ByteBuffer pngDeclaring(uint32_t width, uint32_t height);

}  // namespace dravel::testing
