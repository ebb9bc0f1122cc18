// Checks arbitrary data, and files built from it with right chunk checksums
// (so that the image data's inflation is reached), for whether they are PNGs
// that decode. Whatever the check accepts, libpng must decode; the quick
// decoder must agree with the check and give libpng's pixels.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/shared/image_codec.h"
#include "platform/shared/png_check.h"

namespace {

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The input as chunks: a 2-byte length, a 4-byte type and the body, again and
// again; each written with its checksum.
std::vector<uint8_t> fileOfChunks(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  while (size >= 6) {
    const size_t length = std::min<size_t>(data[0] | data[1] << 8, size - 6);
    putBe32(out, static_cast<uint32_t>(length));
    const size_t typeAt = out.size();
    out.insert(out.end(), data + 2, data + 6 + length);
    putBe32(out, static_cast<uint32_t>(
                     crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt))));
    data += 6 + length;
    size -= 6 + length;
  }
  return out;
}

void fail(const char* what) {
  std::fprintf(stderr, "png_check_fuzz: %s\n", what);
  std::abort();
}

void checkOne(const std::vector<uint8_t>& file) {
  const bool decodable = dravel::isDecodablePng(file);
  bool handled = false;
  std::optional<dravel::DecodedImage> quick = dravel::decodeCommonPng(file, &handled);
  if (handled && quick.has_value() != decodable) fail("the quick decoder and the check disagree");
  if (!decodable) return;
  // Small images only: a valid file of a few bytes may declare a big one.
  const auto declared = dravel::declaredImageSize(file);
  if (!declared || uint64_t{declared->width} * declared->height > (1u << 20)) return;
  const std::optional<dravel::DecodedImage> reference = dravel::decodePngWithLibpng(file);
  if (!reference) fail("accepted a file libpng does not decode");
  if (quick && quick->rgba != reference->rgba) fail("the quick decoder's pixels are not libpng's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    checkOne(std::vector<uint8_t>(data + 1, data + size));
  } else {
    checkOne(fileOfChunks(data + 1, size - 1));
  }
  return 0;
}
