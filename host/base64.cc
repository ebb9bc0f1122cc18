#include "host/base64.h"

#include <array>

namespace dravel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}
constexpr std::array<int8_t, 256> kDecode = makeDecodeTable();

}  // namespace

std::string base64Encode(const ByteBuffer& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t{bytes[i]} << 16;
    if (rest == 2) n |= uint32_t{bytes[i + 1]} << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<ByteBuffer> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  ByteBuffer out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const size_t digits = last ? 4 - padding : 4;
    uint32_t n = 0;
    for (size_t j = 0; j < 4; ++j) {
      int8_t d = 0;
      if (j < digits) {
        d = kDecode[static_cast<uint8_t>(text[i + j])];
        if (d < 0) return std::nullopt;  // outside the alphabet, "=" included
      }
      n = (n << 6) | static_cast<uint32_t>(d);
    }
    out.push_back(static_cast<uint8_t>(n >> 16));
    if (digits > 2) out.push_back(static_cast<uint8_t>(n >> 8));
    if (digits > 3) out.push_back(static_cast<uint8_t>(n));
  }
  return out;
}

}  // namespace dravel
