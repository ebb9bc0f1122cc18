#include "platform/shared/symbolic_hotkeys.h"

#include <cmath>
#include <utility>

#include "platform/seam/system_shortcuts.h"

namespace dravel {
namespace {

constexpr int64_t kRelevantModifiers =
    kShortcutShift | kShortcutControl | kShortcutAlt | kShortcutSuper;

// A number of the stored table: an integer, a double or a boolean, read as
// the platform reads numbers. Absent for anything else.
//
// Key codes and masks are compared as whole 64-bit integers, never cut to 32
// bits: a key code of 2^32 + 5 is not key 5, and mask bits above bit 31 are
// outside the modifier filter like any other. A double no 64-bit integer can
// hold (beyond about 9.2e18, infinite or NaN) has no integer reading here, so
// its entry is skipped as malformed rather than given a saturated or
// undefined value.
struct Number {
  bool boolValue;
  int64_t integerValue;
};

std::optional<Number> number(const Value* value) {
  if (!value) return std::nullopt;
  if (std::optional<bool> b = value->asBool()) return Number{*b, *b ? 1 : 0};
  if (std::optional<int64_t> i = value->asInt()) return Number{*i != 0, *i};
  if (std::optional<double> d = value->asDouble()) {
    // Truncated toward zero, like an integer conversion.
    if (!std::isfinite(*d) || std::fabs(*d) >= 9.2e18) return std::nullopt;
    return Number{*d != 0, static_cast<int64_t>(*d)};
  }
  return std::nullopt;
}

// The key code and modifier mask of an enabled, well-formed entry.
std::optional<std::pair<int64_t, int64_t>> enabledShortcut(const Value& entry) {
  const ValueMap* map = entry.asMap();
  if (!map || !map->hasStringKeys()) return std::nullopt;
  std::optional<Number> enabled = number(map->find("enabled"));
  if (!enabled || !enabled->boolValue) return std::nullopt;
  const Value* value = map->find("value");
  const ValueMap* valueMap = value ? value->asMap() : nullptr;
  if (!valueMap || !valueMap->hasStringKeys()) return std::nullopt;
  const Value* parameters = valueMap->find("parameters");
  const ValueList* list = parameters ? parameters->asList() : nullptr;
  if (!list || list->size() < 3) return std::nullopt;
  std::optional<Number> keyCode = number(&(*list)[1]);
  std::optional<Number> mask = number(&(*list)[2]);
  if (!keyCode || !mask) return std::nullopt;
  return std::pair{keyCode->integerValue, mask->integerValue};
}

}  // namespace

std::optional<bool> symbolicHotkeyTaken(const std::optional<Value>& table, int64_t keyCode,
                                        int64_t modifiers) {
  const ValueMap* entries = table ? table->asMap() : nullptr;
  if (!entries) return std::nullopt;
  for (const auto& [identifier, entry] : *entries) {
    std::optional<std::pair<int64_t, int64_t>> shortcut = enabledShortcut(entry);
    if (!shortcut) continue;
    if (shortcut->first == keyCode && (shortcut->second & kRelevantModifiers) == modifiers) {
      return true;
    }
  }
  return false;
}

}  // namespace dravel
