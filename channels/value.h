// Channel values: what crosses a method channel between the interface and the host.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dravel {

class Value;

// Bytes being built.
using ByteBuffer = std::vector<uint8_t>;

// A read-only run of bytes: what a Bytes handle refers to.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }
  uint8_t operator[](size_t i) const { return data_[i]; }
  std::span<const uint8_t> span() const { return {data_, size_}; }
  operator std::span<const uint8_t>() const { return span(); }
  ByteBuffer toBuffer() const { return ByteBuffer(begin(), end()); }

  // By content.
  bool operator==(const ByteView& other) const;
  bool operator==(const ByteBuffer& other) const {
    return *this == ByteView(other.data(), other.size());
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Raw bytes, shared and immutable: a buffer of their own, or a part of a
// larger buffer (a received message) that they keep alive. Copies share the
// bytes, so a large payload (a captured screen) moves from the buffer it was
// produced in to the transport, and from a received message to its reader,
// without a copy. Used like a pointer to the bytes; null refers to none.
class Bytes {
 public:
  Bytes() = default;
  Bytes(std::nullptr_t) {}
  // The whole of `buffer`.
  Bytes(std::shared_ptr<const ByteBuffer> buffer);
  Bytes(std::shared_ptr<ByteBuffer> buffer)
      : Bytes(std::shared_ptr<const ByteBuffer>(std::move(buffer))) {}
  // `bytes`, which lie in memory that `owner` keeps alive.
  Bytes(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes);

  explicit operator bool() const { return owner_ != nullptr; }
  const ByteView& operator*() const { return view_; }
  const ByteView* operator->() const { return &view_; }
  // What keeps the bytes alive.
  const std::shared_ptr<const void>& owner() const { return owner_; }

 private:
  std::shared_ptr<const void> owner_;
  ByteView view_;
};

using ValueList = std::vector<Value>;

// A map in insertion order. Keys are usually strings, but the standard codec
// allows any value as a key, so a received map may hold others.
class ValueMap {
 public:
  using Entry = std::pair<Value, Value>;

  ValueMap() = default;
  ValueMap(std::initializer_list<std::pair<std::string, Value>> entries);

  // Replaces the value of an existing key or appends a new entry.
  void set(Value key, Value value);
  void set(std::string_view key, Value value);
  void set(const char* key, Value value);
  void set(const std::string& key, Value value);
  // Appends without looking for an existing key. The decoder uses it to keep a
  // received map as it came; with a repeated key, the last entry wins in find().
  void append(Value key, Value value);
  // Makes room for `n` entries in all.
  void reserve(size_t n);
  const Value* find(std::string_view key) const;
  const Value* find(const Value& key) const;
  const Value* find(const char* key) const { return find(std::string_view(key)); }
  const Value* find(const std::string& key) const { return find(std::string_view(key)); }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  void erase(std::string_view key);

  using const_iterator = std::vector<Entry>::const_iterator;

  // Defined below Value: Value is incomplete here, and clang instantiates the
  // vector members used in inline bodies right away.
  size_t size() const;
  bool empty() const;
  const std::vector<Entry>& entries() const { return entries_; }
  const_iterator begin() const;
  const_iterator end() const;

  // True when every key is a string.
  bool hasStringKeys() const;

  bool operator==(const ValueMap& other) const;

 private:
  std::vector<Entry> entries_;
};

// Typed lists of the standard codec. They decode and encode; the host itself
// never needs to build them.
struct Int32List {
  std::vector<int32_t> values;
  bool operator==(const Int32List&) const = default;
};
struct Int64List {
  std::vector<int64_t> values;
  bool operator==(const Int64List&) const = default;
};
struct Float32List {
  std::vector<float> values;
  bool operator==(const Float32List&) const = default;
};
struct Float64List {
  std::vector<double> values;
  bool operator==(const Float64List&) const = default;
};

class Value {
 public:
  enum class Type {
    kNull,
    kBool,
    kInt,
    kDouble,
    kString,
    kBytes,
    kInt32List,
    kInt64List,
    kFloat32List,
    kFloat64List,
    kList,
    kMap,
  };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool v) : data_(v) {}
  Value(int v) : data_(int64_t{v}) {}
  Value(unsigned v) : data_(int64_t{v}) {}
  Value(long v) : data_(int64_t{v}) {}
  Value(long long v) : data_(int64_t(v)) {}
  Value(unsigned long v) = delete;  // would silently wrap above 2^63
  Value(double v) : data_(v) {}
  Value(const char* v) : data_(std::string(v)) {}
  Value(std::string v) : data_(std::move(v)) {}
  Value(std::string_view v) : data_(std::string(v)) {}
  // A null pointer is taken as no bytes, so a bytes value always has a buffer.
  Value(Bytes v) : data_(v ? std::move(v) : Bytes(std::make_shared<const ByteBuffer>())) {}
  Value(ByteBuffer v) : data_(Bytes(std::make_shared<const ByteBuffer>(std::move(v)))) {}
  Value(Int32List v) : data_(std::move(v)) {}
  Value(Int64List v) : data_(std::move(v)) {}
  Value(Float32List v) : data_(std::move(v)) {}
  Value(Float64List v) : data_(std::move(v)) {}
  Value(ValueList v) : data_(std::make_shared<ValueList>(std::move(v))) {}
  Value(ValueMap v) : data_(std::make_shared<ValueMap>(std::move(v))) {}

  Type type() const { return static_cast<Type>(data_.index()); }
  bool isNull() const { return type() == Type::kNull; }

  // Typed reads: the value when it has that type, else absent.
  std::optional<bool> asBool() const;
  std::optional<int64_t> asInt() const;
  std::optional<double> asDouble() const;
  const std::string* asString() const;
  const Bytes* asBytes() const;
  const ValueList* asList() const;
  const ValueMap* asMap() const;
  const Int32List* asInt32List() const { return std::get_if<Int32List>(&data_); }
  const Int64List* asInt64List() const { return std::get_if<Int64List>(&data_); }
  const Float32List* asFloat32List() const { return std::get_if<Float32List>(&data_); }
  const Float64List* asFloat64List() const { return std::get_if<Float64List>(&data_); }

  // Reads of a map with string keys, the way every handler reads its
  // arguments: a missing key, or one that holds another type, is absent.
  std::optional<bool> boolAt(std::string_view key) const;
  std::optional<int64_t> intAt(std::string_view key) const;
  std::optional<double> doubleAt(std::string_view key) const;
  std::optional<std::string> stringAt(std::string_view key) const;
  std::optional<Bytes> bytesAt(std::string_view key) const;
  const Value* at(std::string_view key) const;
  // A list whose every element is a string, else absent as a whole.
  std::optional<std::vector<std::string>> stringListAt(std::string_view key) const;
  // A list whose every element is a map with string keys, else absent.
  std::optional<std::vector<ValueMap>> mapListAt(std::string_view key) const;
  // A map with string keys and string values, else absent.
  std::optional<std::vector<std::pair<std::string, std::string>>> stringMapAt(
      std::string_view key) const;

  // The value as an arguments map: itself when it is a map with string keys,
  // otherwise an empty map.
  Value argumentsOrEmpty() const;

  // Deep equality. Bytes compare by content, maps by their entries regardless of
  // order, and doubles (also in typed lists) are equal when numerically equal or
  // both NaN, so a value equals its own decoded copy.
  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

  // A short readable rendering for logs and test failures.
  std::string debugString() const;

 private:
  // The order matches Type.
  std::variant<std::monostate, bool, int64_t, double, std::string, Bytes, Int32List, Int64List,
               Float32List, Float64List, std::shared_ptr<ValueList>, std::shared_ptr<ValueMap>>
      data_;
};

inline void ValueMap::set(const char* key, Value value) {
  set(std::string_view(key), std::move(value));
}
inline void ValueMap::set(const std::string& key, Value value) {
  set(std::string_view(key), std::move(value));
}

// Makes a bytes value from a copy of the given data.
Value bytesValue(const void* data, size_t size);

inline size_t ValueMap::size() const {
  return entries_.size();
}
inline void ValueMap::reserve(size_t n) {
  entries_.reserve(n);
}
inline bool ValueMap::empty() const {
  return entries_.empty();
}
inline ValueMap::const_iterator ValueMap::begin() const {
  return entries_.begin();
}
inline ValueMap::const_iterator ValueMap::end() const {
  return entries_.end();
}

}  // namespace dravel
