// Strict reads of a scenario section's fields: a field that is present with
// the wrong type is a mistake the section reports, so a scenario author
// learns of a typo instead of getting a default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "channels/value.h"

namespace dravel::sim {

// Bounds on what a scenario may say (docs/scenarios.md lists them).
// Global coordinates (frames' x and y, the pointer), in points: far beyond
// any arrangement of real screens.
inline constexpr double kMaxCoordinate = 1e6;
// A screen's width and height, in points.
inline constexpr double kMaxScreenExtent = 65536;
// A screen's backing scale factor: above 0, at most this.
inline constexpr double kMaxScreenScale = 8;
// Scripted delays, in seconds (about eleven days).
inline constexpr double kMaxScriptedDelay = 1e6;
// Display ids are unsigned 32-bit numbers.
inline constexpr int64_t kMaxDisplayId = 0xffffffff;

// A number as a refusal shows it: "0", "-1.5", "1e+308", "nan", "inf".
std::string describeNumber(double value);

// A number of either kind (an integer is taken as a double) that is finite and
// lies in [min, max], or above `min` when `aboveMin`. Absent, with a refusal
// naming `key` and the value in `error`, otherwise ("key: expected a number",
// "key: nan is not a finite number", "key: 0 is out of range (above 0, at
// most 65536)").
std::optional<double> boundedNumber(const Value& value, const std::string& key, double min,
                                    double max, bool aboveMin, std::string& error);
// An integer in [min, max]; the same refusals.
std::optional<int64_t> boundedInteger(const Value& value, const std::string& key, int64_t min,
                                      int64_t max, std::string& error);

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
