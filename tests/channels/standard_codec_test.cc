#include "channels/standard_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dravel {
namespace {

using Buffer = std::vector<uint8_t>;

Buffer encoded(const Value& v) {
  return StandardMessageCodec::encode(v).flatten();
}

Value decoded(const Buffer& bytes) {
  auto result = StandardMessageCodec::decode(bytes);
  if (auto* error = std::get_if<DecodeError>(&result)) ADD_FAILURE() << error->what;
  return std::get_if<Value>(&result) ? std::get<Value>(result) : Value();
}

bool decodes(const Buffer& bytes) {
  return std::holds_alternative<Value>(StandardMessageCodec::decode(bytes));
}

Buffer concat(Buffer a, const Buffer& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Value nested(int depth) {
  Value v = 1;
  for (int i = 0; i < depth; ++i) v = Value(ValueList{v});
  return v;
}

// One value of every kind, nested, with awkward members.
Value everything() {
  ValueMap intKeyed;
  intKeyed.set(Value(-1), ValueList{});
  intKeyed.set(Value(2.5), ValueMap{});
  return ValueList{nullptr,
                   true,
                   false,
                   0,
                   -1,
                   INT32_MIN,
                   INT32_MAX,
                   int64_t{INT32_MAX} + 1,
                   int64_t{INT32_MIN} - 1,
                   INT64_MIN,
                   INT64_MAX,
                   0.0,
                   -0.0,
                   NAN,
                   "",
                   "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80",
                   ByteBuffer{},
                   ByteBuffer{0, 1, 255},
                   Int32List{{INT32_MIN, 0, 7}},
                   Int64List{{INT64_MAX}},
                   Float32List{{1.5f, -0.0f}},
                   Float64List{{}},
                   Float64List{{1.0 / 3, -2}},
                   ValueList{ValueList{}},
                   ValueMap{{"a", 1}, {"b", ValueMap{{"c", "d"}}}},
                   intKeyed};
}

TEST(StandardCodecTest, RoundTripsEveryType) {
  Value v = everything();
  Value back = decoded(encoded(v));
  EXPECT_EQ(back, v) << back.debugString();
  EXPECT_TRUE(std::signbit(*back.asList()->at(12).asDouble()));  // -0.0 keeps its sign
  for (const Value& element : *v.asList()) EXPECT_EQ(decoded(encoded(element)), element);
}

TEST(StandardCodecTest, KnownEncodings) {
  EXPECT_EQ(encoded(nullptr), (Buffer{0}));
  EXPECT_EQ(encoded(true), (Buffer{1}));
  EXPECT_EQ(encoded(false), (Buffer{2}));
  EXPECT_EQ(encoded(-2), (Buffer{3, 0xfe, 0xff, 0xff, 0xff}));
  EXPECT_EQ(encoded(INT32_MAX), (Buffer{3, 0xff, 0xff, 0xff, 0x7f}));
  EXPECT_EQ(encoded(int64_t{1} << 31), (Buffer{4, 0, 0, 0, 0x80, 0, 0, 0, 0}));
  EXPECT_EQ(encoded(int64_t{INT32_MIN} - 1),
            (Buffer{4, 0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff, 0xff}));
  EXPECT_EQ(encoded(1.5), (Buffer{6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xf8, 0x3f}));
  EXPECT_EQ(encoded(ByteBuffer{9, 8}), (Buffer{8, 2, 9, 8}));
  EXPECT_EQ(encoded(Int32List{{1}}), (Buffer{9, 1, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(encoded(Float32List{{1.0f}}), (Buffer{14, 1, 0, 0, 0, 0, 0x80, 0x3f}));

  auto call = StandardMethodCodec::encodeMethodCall({"foo", ValueMap{{"a", 1}}}).flatten();
  EXPECT_EQ(call, (Buffer{7, 3, 'f', 'o', 'o', 13, 1, 7, 1, 'a', 3, 1, 0, 0, 0}));
  // The envelope byte counts towards alignment.
  EXPECT_EQ(StandardMethodCodec::encodeSuccessEnvelope(1.5).flatten(),
            (Buffer{0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xf8, 0x3f}));
  auto error = FlutterError::errorWithCode("bad", "oops", 7);
  EXPECT_EQ(StandardMethodCodec::encodeErrorEnvelope(error).flatten(),
            (Buffer{1, 7, 3, 'b', 'a', 'd', 7, 4, 'o', 'o', 'p', 's', 3, 7, 0, 0, 0}));
  EXPECT_EQ(StandardMethodCodec::encodeErrorEnvelope(FlutterError::errorWithCode("e")).flatten(),
            (Buffer{1, 7, 1, 'e', 0, 0}));
}

TEST(StandardCodecTest, SizeBoundaries) {
  struct Case {
    size_t length;
    Buffer header;
  };
  for (const Case& c : {Case{253, {7, 253}}, Case{254, {7, 254, 254, 0}},
                        Case{0xffff, {7, 254, 0xff, 0xff}}, Case{0x10000, {7, 255, 0, 0, 1, 0}}}) {
    std::string s(c.length, 'x');
    Buffer bytes = encoded(s);
    ASSERT_EQ(bytes.size(), c.header.size() + c.length);
    EXPECT_TRUE(std::equal(c.header.begin(), c.header.end(), bytes.begin())) << c.length;
    EXPECT_EQ(decoded(bytes), Value(s));
  }
}

TEST(StandardCodecTest, AlignsTypedDataFromMessageStart) {
  const std::vector<std::pair<Value, size_t>> cases = {{1.5, 8},
                                                       {Int32List{{1, -2}}, 4},
                                                       {Int64List{{3}}, 8},
                                                       {Float32List{{0.5f}}, 4},
                                                       {Float64List{{2.5, 3.5}}, 8}};
  for (const auto& [item, alignment] : cases) {
    for (int prefix = 0; prefix < 9; ++prefix) {
      ValueList list(static_cast<size_t>(prefix));
      list.push_back(item);
      Buffer bytes = encoded(list);
      // List tag, size, the null prefix, the item's tag and (for lists) its size.
      size_t end = 2 + static_cast<size_t>(prefix) + (item.asDouble() ? 1 : 2);
      size_t data = (end + alignment - 1) / alignment * alignment;
      for (size_t i = end; i < data; ++i) EXPECT_EQ(bytes[i], 0) << "padding at " << i;
      Buffer payload = encoded(item);
      size_t payloadSize = item.asDouble() ? 8 : payload.size() - alignment;
      ASSERT_EQ(bytes.size(), data + payloadSize);
      EXPECT_EQ(0, std::memcmp(bytes.data() + data, payload.data() + payload.size() - payloadSize,
                               payloadSize));
      EXPECT_EQ(decoded(bytes), Value(list));
    }
  }
}

TEST(StandardCodecTest, AlignmentSpansTheSharedPiecesOfLargeBytes) {
  auto big = std::make_shared<const ByteBuffer>(StandardMessageCodec::kShareThreshold + 1, 7);
  Value v(ValueList{Value(Bytes(big)), 1.5});
  Message message = StandardMessageCodec::encode(v);
  ASSERT_EQ(message.pieces().size(), 3u);
  Buffer flat = message.flatten();
  // List (2), bytes tag and 4-byte size (6), the data, the double's tag, then padding.
  size_t tagAt = 2 + 6 + big->size();
  EXPECT_EQ(flat[tagAt], 6);
  EXPECT_EQ(flat.size(), (tagAt + 1 + 7) / 8 * 8 + 8);
  EXPECT_EQ(decoded(flat), v);
}

// Alignment counts from the message's start, not from the buffer holding it.
TEST(StandardCodecTest, APartOfALargerBufferDecodesAsAMessageOfItsOwn) {
  ValueMap map;
  map.set("small", Value(ByteBuffer(StandardMessageCodec::kShareThreshold - 1, 1)));
  map.set("large", Value(ByteBuffer(StandardMessageCodec::kShareThreshold, 2)));
  map.set("scale", Value(1.5));
  auto padded = std::make_shared<ByteBuffer>(3, 0);
  const Message message = StandardMessageCodec::encode(Value(map));
  for (const Message::Piece& piece : message.pieces()) {
    padded->insert(padded->end(), piece.data, piece.data + piece.size);
  }
  const std::span<const uint8_t> part = std::span<const uint8_t>(*padded).subspan(3);
  auto again = StandardMessageCodec::decode(Bytes(padded, part));
  EXPECT_TRUE(std::holds_alternative<DecodeError>(
      StandardMessageCodec::decode(Bytes(padded, part.first(100)))));
  padded.reset();  // the decoded value alone keeps what it shares alive
  ASSERT_TRUE(std::holds_alternative<Value>(again));
  EXPECT_EQ(std::get<Value>(again), Value(map));
}

// Calls and success envelopes cross the codec in the method channel's tests.
TEST(StandardCodecTest, ErrorEnvelopesDecodeWithOrWithoutAStackTrace) {
  auto error = FlutterError::errorWithCode("c", "m", ValueList{1});
  Buffer bytes = StandardMethodCodec::encodeErrorEnvelope(error).flatten();
  for (const Buffer& trace : {Buffer{}, Buffer{0}, Buffer{7, 2, 'a', 't'}}) {
    auto result = StandardMethodCodec::decodeEnvelope(concat(bytes, trace));
    ASSERT_TRUE(std::holds_alternative<MethodEnvelope>(result)) << trace.size();
    EXPECT_EQ(std::get<FlutterError>(std::get<MethodEnvelope>(result)), error);
  }
}

TEST(StandardCodecTest, RejectsMalformedInput) {
  const Buffer message = encoded(everything());
  const Buffer call = StandardMethodCodec::encodeMethodCall({"m", everything()}).flatten();
  const Buffer success = StandardMethodCodec::encodeSuccessEnvelope(everything()).flatten();
  const Buffer error =
      StandardMethodCodec::encodeErrorEnvelope(FlutterError::errorWithCode("c", "m", everything()))
          .flatten();
  bool (*callOk)(const Buffer&) = [](const Buffer& b) {
    return std::holds_alternative<FlutterMethodCall>(StandardMethodCodec::decodeMethodCall(b));
  };
  bool (*envelopeOk)(const Buffer&) = [](const Buffer& b) {
    return std::holds_alternative<MethodEnvelope>(StandardMethodCodec::decodeEnvelope(b));
  };
  // Every truncation fails (each one its own exact-size buffer, so a sanitizer
  // sees any over-read), and so do trailing bytes after a complete value.
  for (const auto& [bytes, ok] : {std::pair{message, &decodes}, std::pair{call, callOk},
                                  std::pair{success, envelopeOk}, std::pair{error, envelopeOk}}) {
    for (size_t n = 0; n < bytes.size(); ++n)
      EXPECT_FALSE(ok(Buffer(bytes.begin(), bytes.begin() + n))) << n;
    // Two nulls: for an error envelope, one more than the optional stack trace.
    EXPECT_FALSE(ok(concat(bytes, {0, 0})));
  }

  // Unknown tags, large integers (not supported), a list one element short, a
  // map entry without a value.
  for (const Buffer& b :
       {Buffer{15}, Buffer{0xff}, Buffer{5, 2, '1', '0'}, Buffer{12, 3, 0, 0}, Buffer{13, 1, 0}}) {
    EXPECT_FALSE(decodes(b)) << int(b[0]);
  }
  // Sizes far past the end must fail before anything is allocated.
  for (uint8_t t : {7, 8, 9, 10, 11, 12, 13, 14})
    EXPECT_FALSE(decodes({t, 255, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0, 0, 0, 0})) << int(t);

  for (const Buffer& s : {Buffer{0xc0, 0x80}, Buffer{0xed, 0xa0, 0x80}, Buffer{0x80},
                          Buffer{0xe2, 0x82}, Buffer{0xf4, 0x90, 0x80, 0x80}}) {
    EXPECT_FALSE(decodes(concat({7, static_cast<uint8_t>(s.size())}, s)));
  }

  EXPECT_EQ(decoded(encoded(nested(StandardMessageCodec::kMaxDepth))),
            nested(StandardMessageCodec::kMaxDepth));
  EXPECT_FALSE(decodes(encoded(nested(StandardMessageCodec::kMaxDepth + 1))));
  Buffer deep(100000, 12);  // a list of a list of ... that would overflow the stack
  for (size_t i = 1; i < deep.size(); i += 2) deep[i] = 1;
  EXPECT_FALSE(decodes(deep));

  EXPECT_FALSE(callOk({3, 1, 0, 0, 0, 0}));  // method name is not a string
  EXPECT_FALSE(callOk({7, 1, 'm'}));         // no arguments
  EXPECT_FALSE(envelopeOk({}));
  EXPECT_FALSE(envelopeOk({2, 0}));
  EXPECT_FALSE(envelopeOk({1, 0, 0, 0}));                         // code is null
  EXPECT_FALSE(envelopeOk({1, 7, 1, 'c', 3, 1, 0, 0, 0, 0}));     // message is an int
  EXPECT_FALSE(envelopeOk({1, 7, 1, 'c', 0, 0, 3, 1, 0, 0, 0}));  // stack trace is an int
}

// A list header announcing `n` elements, followed by `element` n times.
Buffer repeatedList(size_t n, const Buffer& element) {
  Buffer out{12, 255};
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(n >> (8 * i)));
  const size_t start = out.size();
  const size_t total = n * element.size();
  out.resize(start + total);
  if (total == 0) return out;
  std::copy(element.begin(), element.end(), out.begin() + static_cast<std::ptrdiff_t>(start));
  // Doubling what is there already.
  for (size_t done = element.size(); done < total; done *= 2) {
    std::memcpy(out.data() + start + done, out.data() + start, std::min(done, total - done));
  }
  return out;
}

TEST(StandardCodecTest, SmallMessagesAlwaysDecodeAndBigOnesCannotExpandPastTheirBudget) {
  // Up to a few MiB every message decodes, however it expands: 64 KiB of
  // nulls, of empty lists, of maps of nulls, of booleans.
  for (const Buffer& element : {Buffer{0}, Buffer{12, 0}, Buffer{13, 1, 0, 0}, Buffer{1}}) {
    const size_t n = (64 << 10) / element.size();
    EXPECT_TRUE(decodes(repeatedList(n, element))) << element.size();
  }
  // Big frames keep the bound: 8 million nulls, one byte each on the wire,
  // a whole Value each decoded.
  // The same expansion in empty lists, booleans and a map of nulls.
  const Buffer nulls = repeatedList(8000000, {0});
  Buffer map = repeatedList(8000000, {0, 0});
  map[0] = 13;
  for (const Buffer& big : {nulls, repeatedList(8000000, {12, 0}), repeatedList(8000000, {1}), map})
    EXPECT_FALSE(decodes(big)) << int(big[6]);
  // As a method call and in a reply envelope.
  Buffer call{7, 1, 'm'};
  call.insert(call.end(), nulls.begin(), nulls.end());
  EXPECT_FALSE(
      std::holds_alternative<FlutterMethodCall>(StandardMethodCodec::decodeMethodCall(call)));
  Buffer envelope{0};
  envelope.insert(envelope.end(), nulls.begin(), nulls.end());
  EXPECT_FALSE(
      std::holds_alternative<MethodEnvelope>(StandardMethodCodec::decodeEnvelope(envelope)));
}

}  // namespace
}  // namespace dravel
