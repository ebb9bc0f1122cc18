// Decodes arbitrary bytes as a message, a method call and an envelope. Whatever
// decodes must stay within the decoding budget of its input's size, encode
// again, decode to an equal value, and encode to the same bytes the second
// time (the encoder's output is canonical).
#include <cstdio>
#include <cstdlib>
#include <span>
#include <utility>
#include <vector>

#include "channels/standard_codec.h"

namespace {

using dravel::DecodeError;
using dravel::FlutterError;
using dravel::FlutterMethodCall;
using dravel::Message;
using dravel::MethodEnvelope;
using dravel::StandardMessageCodec;
using dravel::StandardMethodCodec;
using dravel::Value;

// What decoding `input` left on the heap must fit its budget.
void checkBudget(size_t footprint, std::span<const uint8_t> input) {
  const size_t budget = StandardMessageCodec::decodeBudget(input.size());
  if (footprint <= budget) return;
  std::fprintf(stderr, "codec_fuzz: %zu bytes of input decoded into %zu bytes (budget %zu)\n",
               input.size(), footprint, budget);
  std::abort();
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "codec_fuzz: %s\n", what);
  std::abort();
}

std::vector<uint8_t> flat(const Message& message) {
  std::vector<uint8_t> bytes = message.flatten();
  check(bytes.size() == message.size(), "message size differs from its pieces");
  return bytes;
}

template <typename T>
T decodedOrDie(std::variant<T, DecodeError> result, const char* what) {
  if (auto* error = std::get_if<DecodeError>(&result)) {
    std::fprintf(stderr, "codec_fuzz: %s: %s\n", what, error->what.c_str());
    std::abort();
  }
  return std::get<T>(std::move(result));
}

// Exercises the readers the host's handlers use; they must cope with anything.
void readAsArguments(const Value& value) {
  Value args = value.argumentsOrEmpty();
  check(args.asMap() != nullptr, "arguments are not a map");
  for (const auto& [key, element] : *args.asMap()) {
    const std::string& name = *key.asString();
    (void)args.stringListAt(name);
    (void)args.mapListAt(name);
    (void)args.stringMapAt(name);
    check(args.at(name) != nullptr, "a present key reads as absent");
  }
  (void)value.debugString();
}

void messageRoundTrip(std::span<const uint8_t> input) {
  auto result = StandardMessageCodec::decode(input);
  auto* value = std::get_if<Value>(&result);
  if (!value) return;
  checkBudget(dravel::heapFootprint(*value), input);
  readAsArguments(*value);
  std::vector<uint8_t> first = flat(StandardMessageCodec::encode(*value));
  Value again = decodedOrDie(StandardMessageCodec::decode(first), "message re-decode");
  check(again == *value, "message changed in a round trip");
  check(flat(StandardMessageCodec::encode(again)) == first, "message encoding not stable");
}

void methodCallRoundTrip(std::span<const uint8_t> input) {
  auto result = StandardMethodCodec::decodeMethodCall(input);
  auto* call = std::get_if<FlutterMethodCall>(&result);
  if (!call) return;
  checkBudget(dravel::heapFootprint(Value(call->method)) + dravel::heapFootprint(call->arguments),
              input);
  std::vector<uint8_t> first = flat(StandardMethodCodec::encodeMethodCall(*call));
  FlutterMethodCall again =
      decodedOrDie(StandardMethodCodec::decodeMethodCall(first), "method call re-decode");
  check(again.method == call->method && again.arguments == call->arguments,
        "method call changed in a round trip");
  check(flat(StandardMethodCodec::encodeMethodCall(again)) == first, "call encoding not stable");
}

Message encodeEnvelope(const MethodEnvelope& envelope) {
  if (auto* value = std::get_if<Value>(&envelope)) {
    return StandardMethodCodec::encodeSuccessEnvelope(*value);
  }
  return StandardMethodCodec::encodeErrorEnvelope(std::get<FlutterError>(envelope));
}

bool sameEnvelope(const MethodEnvelope& a, const MethodEnvelope& b) {
  if (a.index() != b.index()) return false;
  if (auto* value = std::get_if<Value>(&a)) return *value == std::get<Value>(b);
  return std::get<FlutterError>(a) == std::get<FlutterError>(b);
}

void envelopeRoundTrip(std::span<const uint8_t> input) {
  auto result = StandardMethodCodec::decodeEnvelope(input);
  auto* envelope = std::get_if<MethodEnvelope>(&result);
  if (!envelope) return;
  if (auto* value = std::get_if<Value>(envelope)) {
    checkBudget(dravel::heapFootprint(*value), input);
  } else {
    const FlutterError& error = std::get<FlutterError>(*envelope);
    checkBudget(dravel::heapFootprint(Value(error.code)) +
                    dravel::heapFootprint(Value(error.message.value_or(""))) +
                    dravel::heapFootprint(error.details),
                input);
  }
  std::vector<uint8_t> first = flat(encodeEnvelope(*envelope));
  MethodEnvelope again =
      decodedOrDie(StandardMethodCodec::decodeEnvelope(first), "envelope re-decode");
  check(sameEnvelope(again, *envelope), "envelope changed in a round trip");
  check(flat(encodeEnvelope(again)) == first, "envelope encoding not stable");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  messageRoundTrip(input);
  methodCallRoundTrip(input);
  envelopeRoundTrip(input);
  return 0;
}
