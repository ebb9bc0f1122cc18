// UTF-8 text: checking it, mending it, cutting it between characters, and
// making it from Latin-1.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravel {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// `text` as valid UTF-8: bad bytes become U+FFFD, a sequence cut off at the
// end is dropped.
std::string validUtf8(std::string_view text);

// The longest start of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence.
std::string_view truncateUtf8(std::string_view text, size_t maxBytes);

// Latin-1 text (each byte a code point) as UTF-8.
std::string latin1ToUtf8(std::string_view text);

}  // namespace dravel
