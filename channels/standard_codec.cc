#include "channels/standard_codec.h"

#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "channels/utf8.h"

namespace dravel {

// Numbers travel little-endian; scalars are copied in host order.
static_assert(std::endian::native == std::endian::little,
              "the standard codec needs a little-endian host");

namespace {

constexpr uint8_t tag(StandardTag t) {
  return static_cast<uint8_t>(t);
}

// A shared node on the heap (a list, a map, a copied bytes buffer): its
// control block and container header, rounded up.
constexpr size_t kNodeCharge = 64;
static_assert(kNodeCharge >= 2 * sizeof(void*) + sizeof(ValueList) &&
              kNodeCharge >= 2 * sizeof(void*) + sizeof(ValueMap) &&
              kNodeCharge >= 2 * sizeof(void*) + sizeof(ByteBuffer));

// The most one wire byte can be charged for: a null in a list (one byte, a
// Value), an empty list or map in a list (two bytes, a Value and a node), a
// map entry of two nulls (two bytes, an entry).
static_assert(StandardMessageCodec::kWorstExpansion >= sizeof(Value) &&
              2 * StandardMessageCodec::kWorstExpansion >= sizeof(Value) + kNodeCharge &&
              2 * StandardMessageCodec::kWorstExpansion >= sizeof(ValueMap::Entry));
static_assert(StandardMessageCodec::kFullBudgetSize * StandardMessageCodec::kWorstExpansion +
                  StandardMessageCodec::kExpansionAllowance <=
              StandardMessageCodec::kMaxDecodedSize);

// Strings up to this length live inside the string object itself.
const size_t kInPlaceString = std::string().capacity();

// Writes values into a Message. Alignment padding is computed from the start
// of the whole message, across the pieces already handed to it.
class Writer {
 public:
  Writer() { buffer_.reserve(64); }

  void byte(uint8_t b) { buffer_.push_back(b); }

  void raw(const void* data, size_t size) {
    if (size == 0) return;
    const auto* p = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), p, p + size);
  }

  template <typename T>
  void scalar(T v) {
    raw(&v, sizeof v);
  }

  void size(size_t n) {
    if (n < 254) {
      byte(static_cast<uint8_t>(n));
    } else if (n <= 0xffff) {
      byte(254);
      scalar(static_cast<uint16_t>(n));
    } else if (n <= 0xffffffff) {
      byte(255);
      scalar(static_cast<uint32_t>(n));
    } else {
      throw std::length_error("channel value too large to encode");
    }
  }

  void align(size_t alignment) {
    while (position() % alignment != 0) byte(0);
  }

  void string(const std::string& s) {
    byte(tag(StandardTag::String));
    size(s.size());
    raw(s.data(), s.size());
  }

  template <typename T>
  void typedList(StandardTag t, const std::vector<T>& values) {
    byte(tag(t));
    size(values.size());
    align(sizeof(T));
    raw(values.data(), values.size() * sizeof(T));
  }

  void value(const Value& v) {
    switch (v.type()) {
      case Value::Type::kNull:
        byte(tag(StandardTag::Null));
        break;
      case Value::Type::kBool:
        byte(tag(*v.asBool() ? StandardTag::True : StandardTag::False));
        break;
      case Value::Type::kInt: {
        int64_t i = *v.asInt();
        if (i >= std::numeric_limits<int32_t>::min() && i <= std::numeric_limits<int32_t>::max()) {
          byte(tag(StandardTag::Int32));
          scalar(static_cast<int32_t>(i));
        } else {
          byte(tag(StandardTag::Int64));
          scalar(i);
        }
        break;
      }
      case Value::Type::kDouble:
        byte(tag(StandardTag::Float64));
        align(8);
        scalar(*v.asDouble());
        break;
      case Value::Type::kString:
        string(*v.asString());
        break;
      case Value::Type::kBytes: {
        const Bytes& bytes = *v.asBytes();
        byte(tag(StandardTag::Uint8List));
        size(bytes->size());
        if (bytes->size() >= StandardMessageCodec::kShareThreshold) {
          shared(bytes);
        } else {
          raw(bytes->data(), bytes->size());
        }
        break;
      }
      case Value::Type::kInt32List:
        typedList(StandardTag::Int32List, v.asInt32List()->values);
        break;
      case Value::Type::kInt64List:
        typedList(StandardTag::Int64List, v.asInt64List()->values);
        break;
      case Value::Type::kFloat32List:
        typedList(StandardTag::Float32List, v.asFloat32List()->values);
        break;
      case Value::Type::kFloat64List:
        typedList(StandardTag::Float64List, v.asFloat64List()->values);
        break;
      case Value::Type::kList: {
        const ValueList& list = *v.asList();
        byte(tag(StandardTag::List));
        size(list.size());
        for (const Value& element : list) value(element);
        break;
      }
      case Value::Type::kMap: {
        const ValueMap& map = *v.asMap();
        byte(tag(StandardTag::Map));
        size(map.size());
        for (const auto& [key, element] : map) {
          value(key);
          value(element);
        }
        break;
      }
    }
  }

  Message finish() && {
    message_.appendOwned(std::move(buffer_));
    return std::move(message_);
  }

 private:
  size_t position() const { return message_.size() + buffer_.size(); }

  // Ends the current owned piece and references `bytes` where it lies.
  void shared(const Bytes& bytes) {
    message_.appendOwned(std::move(buffer_));
    buffer_ = {};
    buffer_.reserve(64);
    message_.appendShared(bytes);
  }

  Message message_;
  std::vector<uint8_t> buffer_;
};

// Reads values from untrusted bytes. Every read is bounds-checked against the
// input; sizes are checked against what is left before anything is allocated.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes)
      : data_(bytes.data()),
        size_(bytes.size()),
        budget_(StandardMessageCodec::decodeBudget(size_)) {}
  // Large raw-bytes values refer to their place in `message` instead of being copied.
  explicit Reader(const Bytes& message)
      : data_(message->data()),
        size_(message->size()),
        owner_(message.owner()),
        budget_(StandardMessageCodec::decodeBudget(size_)) {}

  bool atEnd() const { return pos_ == size_; }
  DecodeError error() const { return DecodeError{error_}; }

  bool fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at byte " + std::to_string(pos_);
    return false;
  }

  bool byte(uint8_t& out) {
    if (pos_ >= size_) return fail("unexpected end of message");
    out = data_[pos_++];
    return true;
  }

  bool expectEnd() { return atEnd() || fail("unexpected bytes after the value"); }

  bool value(Value& out, int depth) {
    uint8_t t = 0;
    if (!byte(t)) return false;
    switch (static_cast<StandardTag>(t)) {
      case StandardTag::Null:
        out = Value();
        return true;
      case StandardTag::True:
        out = Value(true);
        return true;
      case StandardTag::False:
        out = Value(false);
        return true;
      case StandardTag::Int32: {
        int32_t i = 0;
        if (!scalar(i)) return false;
        out = Value(int64_t{i});
        return true;
      }
      case StandardTag::Int64: {
        int64_t i = 0;
        if (!scalar(i)) return false;
        out = Value(i);
        return true;
      }
      case StandardTag::LargeInt:
        // Only sent by embeddings with arbitrary-precision integers; the
        // interface never sends one and the host has no use for its hex text.
        return fail("large integers are not supported");
      case StandardTag::Float64: {
        double d = 0;
        if (!align(8) || !scalar(d)) return false;
        out = Value(d);
        return true;
      }
      case StandardTag::String: {
        std::string s;
        if (!string(s)) return false;
        out = Value(std::move(s));
        return true;
      }
      case StandardTag::Uint8List: {
        size_t n;
        const uint8_t* p = nullptr;
        if (!size(n) || !take(n, p) || !charge(kNodeCharge + n)) return false;
        if (owner_ && n >= StandardMessageCodec::kShareThreshold) {
          out = Value(Bytes(owner_, {p, n}));
        } else {
          out = Value(ByteBuffer(p, p + n));
        }
        return true;
      }
      case StandardTag::Int32List:
        return typedList<Int32List>(out);
      case StandardTag::Int64List:
        return typedList<Int64List>(out);
      case StandardTag::Float32List:
        return typedList<Float32List>(out);
      case StandardTag::Float64List:
        return typedList<Float64List>(out);
      case StandardTag::List: {
        size_t n;
        if (!enterContainer(depth) || !size(n)) return false;
        // Every element takes at least one byte.
        if (n > remaining()) return fail("list size past the end");
        if (!chargeElements(n, sizeof(Value))) return false;
        ValueList list(n);
        for (Value& element : list) {
          if (!value(element, depth + 1)) return false;
        }
        out = Value(std::move(list));
        return true;
      }
      case StandardTag::Map: {
        size_t n;
        if (!enterContainer(depth) || !size(n)) return false;
        // Every entry takes at least two bytes.
        if (n > remaining() / 2) return fail("map size past the end");
        if (!chargeElements(n, sizeof(ValueMap::Entry))) return false;
        ValueMap map;
        map.reserve(n);
        for (size_t i = 0; i < n; ++i) {
          Value key, element;
          if (!value(key, depth + 1) || !value(element, depth + 1)) return false;
          map.append(std::move(key), std::move(element));
        }
        out = Value(std::move(map));
        return true;
      }
    }
    --pos_;
    return fail("unknown type tag " + std::to_string(t));
  }

  bool string(std::string& out) {
    size_t n;
    const uint8_t* p = nullptr;
    if (!size(n) || !take(n, p)) return false;
    if (!isValidUtf8({reinterpret_cast<const char*>(p), n})) {
      pos_ -= n;
      return fail("string is not valid UTF-8");
    }
    if (n > kInPlaceString && !charge(n + 1)) return false;
    out.assign(reinterpret_cast<const char*>(p), n);
    return true;
  }

 private:
  size_t remaining() const { return size_ - pos_; }

  bool take(size_t n, const uint8_t*& out) {
    if (n > remaining()) return fail("size past the end");
    out = data_ + pos_;
    pos_ += n;
    return true;
  }

  template <typename T>
  bool scalar(T& out) {
    const uint8_t* p = nullptr;
    if (!take(sizeof(T), p)) return false;
    std::memcpy(&out, p, sizeof(T));
    return true;
  }

  // Skips the padding that brings the position to a multiple of `alignment`
  // from the start of the message.
  bool align(size_t alignment) {
    size_t padding = (alignment - pos_ % alignment) % alignment;
    if (padding > remaining()) return fail("unexpected end of message");
    pos_ += padding;
    return true;
  }

  bool size(size_t& out) {
    uint8_t b = 0;
    if (!byte(b)) return false;
    if (b < 254) {
      out = b;
    } else if (b == 254) {
      uint16_t n = 0;
      if (!scalar(n)) return false;
      out = n;
    } else {
      uint32_t n = 0;
      if (!scalar(n)) return false;
      out = n;
    }
    return true;
  }

  // Counts `bytes` that the value being decoded is about to allocate.
  bool charge(size_t bytes) {
    if (bytes > budget_ - spent_) return overBudget();
    spent_ += bytes;
    return true;
  }

  // A container node with `n` elements of `elementSize` bytes each.
  bool chargeElements(size_t n, size_t elementSize) {
    if (n > (budget_ - spent_) / elementSize) return overBudget();
    return charge(kNodeCharge + n * elementSize);
  }

  bool overBudget() {
    return fail("message expands past its decoding budget of " + std::to_string(budget_) +
                " bytes");
  }

  bool enterContainer(int depth) {
    if (depth >= StandardMessageCodec::kMaxDepth) return fail("nesting too deep");
    return true;
  }

  template <typename List>
  bool typedList(Value& out) {
    using T = typename decltype(List::values)::value_type;
    size_t n;
    if (!size(n) || !align(sizeof(T))) return false;
    if (n > remaining() / sizeof(T)) return fail("typed list size past the end");
    if (!charge(n * sizeof(T))) return false;
    List list;
    list.values.resize(n);
    if (n > 0) std::memcpy(list.values.data(), data_ + pos_, n * sizeof(T));
    pos_ += n * sizeof(T);
    out = Value(std::move(list));
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  std::shared_ptr<const void> owner_;
  size_t budget_;
  size_t spent_ = 0;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

size_t heapFootprint(const Value& value) {
  constexpr size_t kNode = 2 * sizeof(void*);  // a shared node's control block
  switch (value.type()) {
    case Value::Type::kString: {
      const std::string& s = *value.asString();
      return s.capacity() > kInPlaceString ? s.capacity() + 1 : 0;
    }
    case Value::Type::kBytes:
      return kNode + sizeof(ByteBuffer) + (*value.asBytes())->size();
    case Value::Type::kInt32List:
      return value.asInt32List()->values.capacity() * sizeof(int32_t);
    case Value::Type::kInt64List:
      return value.asInt64List()->values.capacity() * sizeof(int64_t);
    case Value::Type::kFloat32List:
      return value.asFloat32List()->values.capacity() * sizeof(float);
    case Value::Type::kFloat64List:
      return value.asFloat64List()->values.capacity() * sizeof(double);
    case Value::Type::kList: {
      const ValueList& list = *value.asList();
      size_t total = kNode + sizeof(ValueList) + list.capacity() * sizeof(Value);
      for (const Value& element : list) total += heapFootprint(element);
      return total;
    }
    case Value::Type::kMap: {
      const ValueMap& map = *value.asMap();
      size_t total = kNode + sizeof(ValueMap) + map.entries().capacity() * sizeof(ValueMap::Entry);
      for (const auto& [key, element] : map) total += heapFootprint(key) + heapFootprint(element);
      return total;
    }
    default:
      return 0;
  }
}

Message StandardMessageCodec::encode(const Value& value) {
  Writer writer;
  writer.value(value);
  return std::move(writer).finish();
}

namespace {

std::variant<Value, DecodeError> decodeValue(Reader& reader) {
  Value value;
  if (!reader.value(value, 0) || !reader.expectEnd()) return reader.error();
  return value;
}

std::variant<FlutterMethodCall, DecodeError> decodeCall(Reader& reader) {
  Value method;
  if (!reader.value(method, 0)) return reader.error();
  if (!method.asString()) {
    return DecodeError{"method call does not start with a method name"};
  }
  FlutterMethodCall call;
  call.method = *method.asString();
  if (!reader.value(call.arguments, 0) || !reader.expectEnd()) return reader.error();
  return call;
}

std::variant<MethodEnvelope, DecodeError> decodeEnvelopeFrom(Reader& reader) {
  uint8_t kind = 0;
  if (!reader.byte(kind)) return DecodeError{"empty envelope"};
  if (kind == 0) {
    Value result;
    if (!reader.value(result, 0) || !reader.expectEnd()) return reader.error();
    return MethodEnvelope(std::move(result));
  }
  if (kind != 1) return DecodeError{"unknown envelope kind " + std::to_string(kind)};

  Value code, message, details;
  if (!reader.value(code, 0) || !reader.value(message, 0) || !reader.value(details, 0)) {
    return reader.error();
  }
  if (!code.asString()) return DecodeError{"error envelope code is not a string"};
  if (!message.isNull() && !message.asString()) {
    return DecodeError{"error envelope message is neither a string nor null"};
  }
  // Some embeddings append a stack trace (a string or null). It has no place
  // in FlutterError and is dropped.
  if (!reader.atEnd()) {
    Value stackTrace;
    if (!reader.value(stackTrace, 0) || !reader.expectEnd()) return reader.error();
    if (!stackTrace.isNull() && !stackTrace.asString()) {
      return DecodeError{"error envelope stack trace is neither a string nor null"};
    }
  }
  FlutterError error;
  error.code = *code.asString();
  if (const std::string* text = message.asString()) error.message = *text;
  error.details = std::move(details);
  return MethodEnvelope(std::move(error));
}

}  // namespace

std::variant<Value, DecodeError> StandardMessageCodec::decode(std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  return decodeValue(reader);
}

std::variant<Value, DecodeError> StandardMessageCodec::decode(const Bytes& message) {
  Reader reader(message);
  return decodeValue(reader);
}

Message StandardMethodCodec::encodeMethodCall(const FlutterMethodCall& call) {
  Writer writer;
  writer.string(call.method);
  writer.value(call.arguments);
  return std::move(writer).finish();
}

std::variant<FlutterMethodCall, DecodeError> StandardMethodCodec::decodeMethodCall(
    std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  return decodeCall(reader);
}

std::variant<FlutterMethodCall, DecodeError> StandardMethodCodec::decodeMethodCall(
    const Bytes& message) {
  Reader reader(message);
  return decodeCall(reader);
}

Message StandardMethodCodec::encodeSuccessEnvelope(const Value& result) {
  Writer writer;
  writer.byte(0);
  writer.value(result);
  return std::move(writer).finish();
}

Message StandardMethodCodec::encodeErrorEnvelope(const FlutterError& error) {
  Writer writer;
  writer.byte(1);
  writer.string(error.code);
  if (error.message) {
    writer.string(*error.message);
  } else {
    writer.byte(tag(StandardTag::Null));
  }
  writer.value(error.details);
  return std::move(writer).finish();
}

std::variant<MethodEnvelope, DecodeError> StandardMethodCodec::decodeEnvelope(
    std::span<const uint8_t> bytes) {
  Reader reader(bytes);
  return decodeEnvelopeFrom(reader);
}

std::variant<MethodEnvelope, DecodeError> StandardMethodCodec::decodeEnvelope(
    const Bytes& message) {
  Reader reader(message);
  return decodeEnvelopeFrom(reader);
}

}  // namespace dravel
