// Base64 text of bytes: the standard alphabet with "=" padding, no line breaks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "channels/value.h"

namespace dravel {

std::string base64Encode(const ByteBuffer& bytes);
// Strict decoding: the length is a multiple of 4, every character is from the
// alphabet, and "=" appears only as the padding at the end (at most two).
// Anything else, a line break or a blank included, is absent. The empty text
// is zero bytes.
std::optional<ByteBuffer> base64Decode(std::string_view text);

}  // namespace dravel
