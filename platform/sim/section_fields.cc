#include "platform/sim/section_fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace dravel::sim {

std::string describeNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  // Whole numbers of ordinary size as integers, the rest in their shortest form.
  if (std::trunc(value) == value && std::fabs(value) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
  }
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

std::optional<double> boundedNumber(const Value& value, const std::string& key, double min,
                                    double max, bool aboveMin, std::string& error) {
  std::optional<double> number = value.asDouble();
  if (auto i = value.asInt()) number = static_cast<double>(*i);
  if (!number) {
    error = key + ": expected a number";
    return std::nullopt;
  }
  if (!std::isfinite(*number)) {
    error = key + ": " + describeNumber(*number) + " is not a finite number";
    return std::nullopt;
  }
  if ((aboveMin ? !(*number > min) : *number < min) || *number > max) {
    error = key + ": " + describeNumber(*number) + " is out of range (" +
            (aboveMin ? "above " : "at least ") + describeNumber(min) + ", at most " +
            describeNumber(max) + ")";
    return std::nullopt;
  }
  return number;
}

std::optional<int64_t> boundedInteger(const Value& value, const std::string& key, int64_t min,
                                      int64_t max, std::string& error) {
  std::optional<int64_t> number = value.asInt();
  if (!number) {
    error = key + ": expected an integer";
    return std::nullopt;
  }
  if (*number < min || *number > max) {
    error = key + ": " + std::to_string(*number) + " is out of range (" + std::to_string(min) +
            " to " + std::to_string(max) + ")";
    return std::nullopt;
  }
  return number;
}

SectionFields::SectionFields(const Value& value, std::string where)
    : map_(value.asMap()), where_(std::move(where)) {
  if (!map_ || !map_->hasStringKeys()) {
    map_ = nullptr;
    error_ = where_.empty() ? std::string("expected a map") : where_ + ": expected a map";
  }
}

void SectionFields::fail(const std::string& key, const std::string& expected) {
  if (!error_.empty()) return;
  error_ = (where_.empty() ? "" : where_ + ".") + key + ": expected " + expected;
}

std::optional<int64_t> SectionFields::integer(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return std::nullopt;
  if (auto i = v->asInt()) return i;
  fail(key, "an integer");
  return std::nullopt;
}

std::optional<bool> SectionFields::boolean(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return std::nullopt;
  if (auto b = v->asBool()) return b;
  fail(key, "true or false");
  return std::nullopt;
}

std::optional<std::string> SectionFields::string(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return std::nullopt;
  if (auto* s = v->asString()) return *s;
  fail(key, "a string");
  return std::nullopt;
}

std::optional<std::optional<std::string>> SectionFields::nullableString(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return std::nullopt;
  if (v->isNull()) return std::optional<std::string>();
  if (auto* s = v->asString()) return std::optional<std::string>(*s);
  fail(key, "a string or null");
  return std::nullopt;
}

const ValueMap* SectionFields::map(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return nullptr;
  const ValueMap* m = v->asMap();
  if (m && m->hasStringKeys()) return m;
  fail(key, "a map");
  return nullptr;
}

const ValueList* SectionFields::list(const char* key) {
  const Value* v = map_ ? map_->find(key) : nullptr;
  if (!v) return nullptr;
  if (const ValueList* l = v->asList()) return l;
  fail(key, "a list");
  return nullptr;
}

}  // namespace dravel::sim
