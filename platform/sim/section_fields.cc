#include "platform/sim/section_fields.h"

namespace dravel::sim {

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
