// Strict reads of a scenario section's fields: a field that is present with
// the wrong type is a mistake the section reports, so a scenario author
// learns of a typo instead of getting a default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "channels/value.h"

namespace dravel::sim {

class SectionFields {
 public:
  // `value` must be a map with string keys (else error() says so).
  SectionFields(const Value& value, std::string where);

  // Absent when missing; records an error when present with another type.
  std::optional<int64_t> integer(const char* key);
  std::optional<bool> boolean(const char* key);
  std::optional<std::string> string(const char* key);
  // A string or null: missing -> absent; null -> present and empty.
  std::optional<std::optional<std::string>> nullableString(const char* key);
  const ValueMap* map(const char* key);
  const ValueList* list(const char* key);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  void fail(const std::string& key, const std::string& expected);

 private:
  const ValueMap* map_;
  std::string where_;
  std::string error_;
};

}  // namespace dravel::sim
