#include "channels/utf8.h"

#include <cstdint>

namespace dravel {

namespace {

void appendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// The sequence at text[i]: how many bytes it takes, whether it is a valid
// character, and whether it is one cut off by the end of the text.
struct Sequence {
  size_t length = 1;
  bool valid = false;
  bool cutOff = false;
};
Sequence sequenceAt(std::string_view text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {1, true};
  size_t length = 0;
  uint32_t codePoint = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    codePoint = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    codePoint = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    codePoint = lead & 0x07;
    minimum = 0x10000;
  } else {
    return {};
  }
  size_t j = 1;
  while (j < length && i + j < text.size() &&
         (static_cast<unsigned char>(text[i + j]) & 0xC0) == 0x80) {
    codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
    ++j;
  }
  if (j < length) return {j, false, i + j == text.size()};
  // No overlong forms, no surrogates, nothing above U+10FFFF.
  const bool valid =
      codePoint >= minimum && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
  return {length, valid};
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const Sequence sequence = sequenceAt(text, i);
    if (!sequence.valid) return false;
    i += sequence.length;
  }
  return true;
}

std::string validUtf8(std::string_view text) {
  constexpr uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const Sequence sequence = sequenceAt(text, i);
    if (sequence.cutOff) break;  // dropped
    if (sequence.valid) {
      out.append(text.substr(i, sequence.length));
    } else {
      appendUtf8(out, kReplacement);
    }
    i += sequence.length;
  }
  return out;
}

std::string_view truncateUtf8(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  // Back off continuation bytes (10xxxxxx) to the start of their sequence,
  // which is then left out whole.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) appendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

}  // namespace dravel
