#include "channels/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "channels/utf8.h"

namespace dravel {

namespace {

bool sameDouble(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

template <typename T>
bool sameFloats(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!sameDouble(a[i], b[i])) return false;
  }
  return true;
}

}  // namespace

// Bytes

bool ByteView::operator==(const ByteView& other) const {
  if (size_ != other.size_) return false;
  return size_ == 0 || data_ == other.data_ || std::memcmp(data_, other.data_, size_) == 0;
}

Bytes::Bytes(std::shared_ptr<const ByteBuffer> buffer)
    : view_(buffer ? ByteView(buffer->data(), buffer->size()) : ByteView()) {
  owner_ = std::move(buffer);
}

Bytes::Bytes(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes)
    : owner_(std::move(owner)), view_(owner_ ? ByteView(bytes.data(), bytes.size()) : ByteView()) {}

// ValueMap

ValueMap::ValueMap(std::initializer_list<std::pair<std::string, Value>> entries) {
  entries_.reserve(entries.size());
  for (const auto& [key, value] : entries) set(std::string_view(key), value);
}

void ValueMap::set(Value key, Value value) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->first == key) {
      it->second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

void ValueMap::set(std::string_view key, Value value) {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    const std::string* k = it->first.asString();
    if (k && *k == key) {
      it->second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(Value(key), std::move(value));
}

void ValueMap::append(Value key, Value value) {
  entries_.emplace_back(std::move(key), std::move(value));
}

// Searches from the back so that, in a received map with a repeated key, the
// last entry wins as it does on the sending side.
const Value* ValueMap::find(std::string_view key) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    const std::string* k = it->first.asString();
    if (k && *k == key) return &it->second;
  }
  return nullptr;
}

const Value* ValueMap::find(const Value& key) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
    if (it->first == key) return &it->second;
  }
  return nullptr;
}

void ValueMap::erase(std::string_view key) {
  std::erase_if(entries_, [key](const Entry& entry) {
    const std::string* k = entry.first.asString();
    return k && *k == key;
  });
}

bool ValueMap::hasStringKeys() const {
  for (const Entry& entry : entries_) {
    if (entry.first.type() != Value::Type::kString) return false;
  }
  return true;
}

bool ValueMap::operator==(const ValueMap& other) const {
  if (entries_.size() != other.entries_.size()) return false;
  // Usual case first: the same entries in the same order (a decoded copy).
  if (entries_ == other.entries_) return true;
  // Otherwise every key must map to an equal value on both sides. A map with a
  // repeated key only equals one with the same entries in the same order.
  for (const Entry& entry : entries_) {
    const Value* theirs = other.find(entry.first);
    const Value* ours = find(entry.first);
    if (!theirs || ours != &entry.second || !(*theirs == entry.second)) return false;
  }
  // Same size and all of our distinct keys present: the key sets are equal.
  return true;
}

// Value: typed reads

std::optional<bool> Value::asBool() const {
  if (auto* v = std::get_if<bool>(&data_)) return *v;
  return std::nullopt;
}

std::optional<int64_t> Value::asInt() const {
  if (auto* v = std::get_if<int64_t>(&data_)) return *v;
  return std::nullopt;
}

std::optional<double> Value::asDouble() const {
  if (auto* v = std::get_if<double>(&data_)) return *v;
  return std::nullopt;
}

const std::string* Value::asString() const {
  return std::get_if<std::string>(&data_);
}

const Bytes* Value::asBytes() const {
  return std::get_if<Bytes>(&data_);
}

const ValueList* Value::asList() const {
  if (auto* v = std::get_if<std::shared_ptr<ValueList>>(&data_)) return v->get();
  return nullptr;
}

const ValueMap* Value::asMap() const {
  if (auto* v = std::get_if<std::shared_ptr<ValueMap>>(&data_)) return v->get();
  return nullptr;
}

// Value: argument reads

const Value* Value::at(std::string_view key) const {
  const ValueMap* map = asMap();
  return map ? map->find(key) : nullptr;
}

std::optional<bool> Value::boolAt(std::string_view key) const {
  const Value* v = at(key);
  return v ? v->asBool() : std::nullopt;
}

std::optional<int64_t> Value::intAt(std::string_view key) const {
  const Value* v = at(key);
  return v ? v->asInt() : std::nullopt;
}

std::optional<double> Value::doubleAt(std::string_view key) const {
  const Value* v = at(key);
  return v ? v->asDouble() : std::nullopt;
}

std::optional<std::string> Value::stringAt(std::string_view key) const {
  const Value* v = at(key);
  const std::string* s = v ? v->asString() : nullptr;
  if (!s) return std::nullopt;
  return *s;
}

std::optional<Bytes> Value::bytesAt(std::string_view key) const {
  const Value* v = at(key);
  const Bytes* b = v ? v->asBytes() : nullptr;
  if (!b) return std::nullopt;
  return *b;
}

std::optional<std::vector<std::string>> Value::stringListAt(std::string_view key) const {
  const Value* v = at(key);
  const ValueList* list = v ? v->asList() : nullptr;
  if (!list) return std::nullopt;
  std::vector<std::string> out;
  out.reserve(list->size());
  for (const Value& element : *list) {
    const std::string* s = element.asString();
    if (!s) return std::nullopt;
    out.push_back(*s);
  }
  return out;
}

std::optional<std::vector<ValueMap>> Value::mapListAt(std::string_view key) const {
  const Value* v = at(key);
  const ValueList* list = v ? v->asList() : nullptr;
  if (!list) return std::nullopt;
  std::vector<ValueMap> out;
  out.reserve(list->size());
  for (const Value& element : *list) {
    const ValueMap* map = element.asMap();
    if (!map || !map->hasStringKeys()) return std::nullopt;
    out.push_back(*map);
  }
  return out;
}

std::optional<std::vector<std::pair<std::string, std::string>>> Value::stringMapAt(
    std::string_view key) const {
  const Value* v = at(key);
  const ValueMap* map = v ? v->asMap() : nullptr;
  if (!map) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(map->size());
  for (const auto& [k, value] : *map) {
    const std::string* ks = k.asString();
    const std::string* vs = value.asString();
    if (!ks || !vs) return std::nullopt;
    out.emplace_back(*ks, *vs);
  }
  return out;
}

Value Value::argumentsOrEmpty() const {
  const ValueMap* map = asMap();
  if (map && map->hasStringKeys()) return *this;
  return Value(ValueMap{});
}

// Value: equality

bool Value::operator==(const Value& other) const {
  if (data_.index() != other.data_.index()) return false;
  switch (type()) {
    case Type::kNull:
      return true;
    case Type::kBool:
      return std::get<bool>(data_) == std::get<bool>(other.data_);
    case Type::kInt:
      return std::get<int64_t>(data_) == std::get<int64_t>(other.data_);
    case Type::kDouble:
      return sameDouble(std::get<double>(data_), std::get<double>(other.data_));
    case Type::kString:
      return std::get<std::string>(data_) == std::get<std::string>(other.data_);
    case Type::kBytes:
      return *std::get<Bytes>(data_) == *std::get<Bytes>(other.data_);
    case Type::kInt32List:
      return std::get<Int32List>(data_) == std::get<Int32List>(other.data_);
    case Type::kInt64List:
      return std::get<Int64List>(data_) == std::get<Int64List>(other.data_);
    case Type::kFloat32List:
      return sameFloats(asFloat32List()->values, other.asFloat32List()->values);
    case Type::kFloat64List:
      return sameFloats(asFloat64List()->values, other.asFloat64List()->values);
    case Type::kList: {
      const ValueList* a = asList();
      const ValueList* b = other.asList();
      return a == b || *a == *b;
    }
    case Type::kMap: {
      const ValueMap* a = asMap();
      const ValueMap* b = other.asMap();
      return a == b || *a == *b;
    }
  }
  return false;
}

// Value: debug rendering

namespace {

// Long containers and strings are cut; the rendering is for people, not parsers.
constexpr size_t kShownElements = 16;
constexpr size_t kShownStringBytes = 200;

template <typename Float>
void appendFloat(std::string& out, Float v) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) {
    out += "?";
    return;
  }
  std::string_view text(buf, static_cast<size_t>(end - buf));
  out += text;
  // Keep doubles recognisable next to integers.
  if (std::isfinite(v) && text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendString(std::string& out, const std::string& s) {
  size_t shown = s.size();
  if (shown > kShownStringBytes) {
    // Not cutting a UTF-8 sequence in half.
    shown = truncateUtf8(s, kShownStringBytes).size();
  }
  out += '"';
  for (size_t i = 0; i < shown; ++i) {
    char c = s[i];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(static_cast<uint8_t>(c)));
          out += hex;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  if (shown < s.size()) out += "...(" + std::to_string(s.size()) + " bytes)";
}

template <typename T, typename Append>
void appendSequence(std::string& out, const char* open, const char* close, std::span<const T> items,
                    Append appendItem) {
  out += open;
  size_t shown = std::min(items.size(), kShownElements);
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) out += ", ";
    appendItem(items[i]);
  }
  if (shown < items.size()) out += ", ...(" + std::to_string(items.size()) + " total)";
  out += close;
}

void appendValue(std::string& out, const Value& value) {
  switch (value.type()) {
    case Value::Type::kNull:
      out += "null";
      break;
    case Value::Type::kBool:
      out += *value.asBool() ? "true" : "false";
      break;
    case Value::Type::kInt:
      out += std::to_string(*value.asInt());
      break;
    case Value::Type::kDouble:
      appendFloat(out, *value.asDouble());
      break;
    case Value::Type::kString:
      appendString(out, *value.asString());
      break;
    case Value::Type::kBytes: {
      const ByteView& bytes = **value.asBytes();
      out += "bytes";
      appendSequence(out, "[", "]", bytes.span(), [&out](uint8_t b) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(b));
        out += hex;
      });
      break;
    }
    case Value::Type::kInt32List:
      out += "int32";
      appendSequence(out, "[", "]", std::span(value.asInt32List()->values),
                     [&out](int32_t v) { out += std::to_string(v); });
      break;
    case Value::Type::kInt64List:
      out += "int64";
      appendSequence(out, "[", "]", std::span(value.asInt64List()->values),
                     [&out](int64_t v) { out += std::to_string(v); });
      break;
    case Value::Type::kFloat32List:
      out += "float32";
      appendSequence(out, "[", "]", std::span(value.asFloat32List()->values),
                     [&out](float v) { appendFloat(out, v); });
      break;
    case Value::Type::kFloat64List:
      out += "float64";
      appendSequence(out, "[", "]", std::span(value.asFloat64List()->values),
                     [&out](double v) { appendFloat(out, v); });
      break;
    case Value::Type::kList:
      appendSequence(out, "[", "]", std::span(*value.asList()),
                     [&out](const Value& v) { appendValue(out, v); });
      break;
    case Value::Type::kMap:
      appendSequence(out, "{", "}", std::span(value.asMap()->entries()),
                     [&out](const ValueMap::Entry& e) {
                       appendValue(out, e.first);
                       out += ": ";
                       appendValue(out, e.second);
                     });
      break;
  }
}

}  // namespace

std::string Value::debugString() const {
  std::string out;
  appendValue(out, *this);
  return out;
}

Value bytesValue(const void* data, size_t size) {
  const auto* begin = static_cast<const uint8_t*>(data);
  return Value(size == 0 ? ByteBuffer() : ByteBuffer(begin, begin + size));
}

}  // namespace dravel
