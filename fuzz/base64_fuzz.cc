// Decodes arbitrary text as bookmark Base64 and encodes arbitrary bytes.
// Whatever decodes must re-encode to text of the same length that decodes to
// the same bytes; whatever is encoded must decode to itself.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/base64.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "base64_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (std::optional<dravel::ByteBuffer> decoded = dravel::base64Decode(text)) {
    check(size % 4 == 0, "decoded text of a length that is not a multiple of 4");
    const std::string again = dravel::base64Encode(*decoded);
    check(again.size() == size, "re-encoded text has another length");
    check(dravel::base64Decode(again) == decoded, "re-encoded text decodes differently");
  }
  const dravel::ByteBuffer bytes(data, data + size);
  check(dravel::base64Decode(dravel::base64Encode(bytes)) == bytes, "encoded bytes do not decode");
  return 0;
}
