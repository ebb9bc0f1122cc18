#include "platform/sim/json_value.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace dravel::sim {
namespace {

using json = nlohmann::ordered_json;

struct ReadError {
  std::string what;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Value fromJson(const json& j, const JsonReadOptions& options, int depth) {
  if (depth > 128) throw ReadError{"nested too deeply"};
  switch (j.type()) {
    case json::value_t::null:
    case json::value_t::discarded:
      return Value();
    case json::value_t::boolean:
      return Value(j.get<bool>());
    case json::value_t::number_integer:
      return Value(static_cast<int64_t>(j.get<int64_t>()));
    case json::value_t::number_unsigned: {
      uint64_t u = j.get<uint64_t>();
      if (u > static_cast<uint64_t>(INT64_MAX))
        throw ReadError{"integer " + j.dump() + " too large"};
      return Value(static_cast<int64_t>(u));
    }
    case json::value_t::number_float:
      return Value(j.get<double>());
    case json::value_t::string:
      return Value(j.get<std::string>());
    case json::value_t::binary:
      return Value(ByteBuffer(j.get_binary().begin(), j.get_binary().end()));
    case json::value_t::array: {
      ValueList list;
      list.reserve(j.size());
      for (const json& element : j) list.push_back(fromJson(element, options, depth + 1));
      return Value(std::move(list));
    }
    case json::value_t::object:
      break;
  }
  if (options.typedMarkers && j.size() == 1) {
    const std::string& key = j.begin().key();
    const json& v = j.begin().value();
    if (key == "$int") {
      if (v.is_number_integer()) return Value(static_cast<int64_t>(v.get<int64_t>()));
      if (v.is_number_float() && std::trunc(v.get<double>()) == v.get<double>() &&
          std::fabs(v.get<double>()) < 9.2e18) {
        return Value(static_cast<int64_t>(v.get<double>()));
      }
      throw ReadError{"$int needs a whole number, got " + v.dump()};
    }
    if (key == "$double") {
      if (v.is_number()) return Value(v.get<double>());
      throw ReadError{"$double needs a number, got " + v.dump()};
    }
    if (key == "$hex") {
      if (!v.is_string()) throw ReadError{"$hex needs a string"};
      const std::string& text = v.get_ref<const std::string&>();
      if (text.size() % 2 != 0) throw ReadError{"$hex needs an even number of digits"};
      ByteBuffer bytes;
      bytes.reserve(text.size() / 2);
      for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) throw ReadError{"$hex: not a hexadecimal digit in " + text};
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
      return Value(std::move(bytes));
    }
    if (key == "$file") {
      if (!v.is_string()) throw ReadError{"$file needs a path"};
      std::string why;
      auto contents = readInputFile(v.get<std::string>(), kMaxBytesFileSize, &why);
      if (!contents) throw ReadError{"$file: " + why};
      return Value(ByteBuffer(contents->begin(), contents->end()));
    }
  }
  ValueMap map;
  for (auto it = j.begin(); it != j.end(); ++it) {
    map.set(it.key(), fromJson(it.value(), options, depth + 1));
  }
  return Value(std::move(map));
}

json toJson(const Value& value, const BytesRenderer& bytes, int depth);

template <typename List>
json listToJson(const List& list) {
  json out = json::array();
  for (auto v : list.values) {
    if constexpr (std::is_floating_point_v<decltype(v)>) {
      out.push_back(std::isfinite(v) ? json(static_cast<double>(v)) : json());
    } else {
      out.push_back(static_cast<int64_t>(v));
    }
  }
  return out;
}

json toJson(const Value& value, const BytesRenderer& bytes, int depth) {
  if (depth > 256) return "...";
  switch (value.type()) {
    case Value::Type::kNull:
      return json();
    case Value::Type::kBool:
      return *value.asBool();
    case Value::Type::kInt:
      return *value.asInt();
    case Value::Type::kDouble: {
      double d = *value.asDouble();
      return std::isfinite(d) ? json(d) : json();
    }
    case Value::Type::kString:
      return *value.asString();
    case Value::Type::kBytes: {
      const ByteView& buffer = **value.asBytes();
      if (bytes) return json::parse(bytes(buffer));
      return json{{"$bytes", buffer.size()}};
    }
    case Value::Type::kInt32List:
      return listToJson(*value.asInt32List());
    case Value::Type::kInt64List:
      return listToJson(*value.asInt64List());
    case Value::Type::kFloat32List:
      return listToJson(*value.asFloat32List());
    case Value::Type::kFloat64List:
      return listToJson(*value.asFloat64List());
    case Value::Type::kList: {
      json out = json::array();
      for (const Value& v : *value.asList()) out.push_back(toJson(v, bytes, depth + 1));
      return out;
    }
    case Value::Type::kMap: {
      json out = json::object();
      for (const auto& [k, v] : *value.asMap()) {
        std::string key = k.asString() ? *k.asString() : k.debugString();
        out[key] = toJson(v, bytes, depth + 1);
      }
      return out;
    }
  }
  return json();
}

}  // namespace

std::optional<std::string> readInputFile(const std::string& path, size_t maxBytes,
                                         std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    if (error) *error = "cannot read " + path + ": " + why;
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return fail("it is a folder");
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  const std::string tooLarge = "larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return fail(tooLarge);
  // Ordinary reads from here on: a regular file never blocks, but the flag
  // is dropped all the same.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::string contents;
  contents.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  // A file that grows meanwhile is read up to the bound and refused beyond it.
  for (;;) {
    if (done > maxBytes) return fail(tooLarge);
    if (done == contents.size()) contents.resize(contents.size() + 4096);
    ssize_t n = ::read(fd, contents.data() + done, contents.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::strerror(errno));
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  if (done > maxBytes) return fail(tooLarge);
  contents.resize(done);
  return contents;
}

std::variant<Value, std::string> valueFromJson(std::string_view text, JsonReadOptions options) {
  json parsed;
  try {
    parsed = json::parse(text);
  } catch (const json::exception& e) {
    return std::string(e.what());
  }
  try {
    return fromJson(parsed, options, 0);
  } catch (const ReadError& e) {
    return e.what;
  }
}

std::string jsonFromValue(const Value& value, int indent, BytesRenderer bytes) {
  // Strings that are not valid UTF-8 are written with replacement characters.
  return toJson(value, bytes, 0).dump(indent, ' ', false, json::error_handler_t::replace);
}

}  // namespace dravel::sim
