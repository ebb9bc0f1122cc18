// The standard message codec and the standard method codec, byte-compatible
// with the embedding's own (little-endian, aligned typed data).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "channels/message.h"
#include "channels/method_call.h"
#include "channels/value.h"

namespace dravel {

// Type tags of the standard message codec.
enum class StandardTag : uint8_t {
  Null = 0,
  True = 1,
  False = 2,
  Int32 = 3,
  Int64 = 4,
  LargeInt = 5,
  Float64 = 6,
  String = 7,
  Uint8List = 8,
  Int32List = 9,
  Int64List = 10,
  Float64List = 11,
  List = 12,
  Map = 13,
  Float32List = 14,
};

// Why a decode failed. Decoding never reads past the input.
struct DecodeError {
  std::string what;
};

class StandardMessageCodec {
 public:
  // Nesting deeper than this is a decode error rather than a stack overflow.
  static constexpr int kMaxDepth = 128;
  // Raw-bytes values at least this large are referenced, not copied, when
  // encoding (and when decoding from a shared buffer).
  static constexpr size_t kShareThreshold = 64 * 1024;

  // What a decoded message may take in memory: a few bytes on the wire can
  // stand for far more once decoded (a null inside a list is one byte that
  // becomes a whole Value), so a decode charges what it is about to allocate
  // against this budget and fails, before allocating, once the budget is
  // spent. No wire byte can stand for more than kWorstExpansion bytes
  // decoded, so every message up to kFullBudgetSize decodes, however it is
  // made, as the embedding's own decoder would decode it. Past that the
  // budget grows by only kMaxExpansion per byte, which real messages (maps
  // with string keys, numbers, strings, bytes) stay well below; only long
  // runs of nulls, booleans or empty containers come near it. Never more
  // than kMaxDecodedSize.
  static constexpr size_t kWorstExpansion = 64;
  static constexpr size_t kFullBudgetSize = size_t{4} << 20;
  static constexpr size_t kMaxExpansion = 16;
  static constexpr size_t kExpansionAllowance = size_t{1} << 20;
  static constexpr size_t kMaxDecodedSize = size_t{1} << 30;
  static constexpr size_t decodeBudget(size_t messageSize) {
    const size_t limit = (kMaxDecodedSize - kExpansionAllowance) / kMaxExpansion;
    if (messageSize >= limit) return kMaxDecodedSize;
    const size_t full = (messageSize < kFullBudgetSize ? messageSize : kFullBudgetSize) *
                        kWorstExpansion;
    const size_t grown = messageSize * kMaxExpansion;
    return (full > grown ? full : grown) + kExpansionAllowance;
  }

  static Message encode(const Value& value);
  static std::variant<Value, DecodeError> decode(std::span<const uint8_t> bytes);
  // The same, from a shared buffer: raw-bytes values of kShareThreshold bytes
  // or more refer to their place in `message`, which they keep alive, instead
  // of being copied. Every decode below has this form as well.
  static std::variant<Value, DecodeError> decode(const Bytes& message);
};

// The heap memory that `value` holds: its containers' storage, strings longer
// than fit in place, typed lists and raw bytes (counted whole, even when they
// share a larger buffer). A decoded value's footprint stays within
// StandardMessageCodec::decodeBudget of the message it came from.
size_t heapFootprint(const Value& value);

// A successful or failed method result as it travels in an envelope.
using MethodEnvelope = std::variant<Value, FlutterError>;

class StandardMethodCodec {
 public:
  static Message encodeMethodCall(const FlutterMethodCall& call);
  static std::variant<FlutterMethodCall, DecodeError> decodeMethodCall(
      std::span<const uint8_t> bytes);
  static std::variant<FlutterMethodCall, DecodeError> decodeMethodCall(const Bytes& message);

  static Message encodeSuccessEnvelope(const Value& result);
  static Message encodeErrorEnvelope(const FlutterError& error);
  static std::variant<MethodEnvelope, DecodeError> decodeEnvelope(std::span<const uint8_t> bytes);
  static std::variant<MethodEnvelope, DecodeError> decodeEnvelope(const Bytes& message);
};

}  // namespace dravel
