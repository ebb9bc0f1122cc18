#include "host/hotkey_probe.h"

#include <cmath>
#include <limits>

#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr int64_t kShift = 0x20000;
constexpr int64_t kMeta = 0x100000;

// A system hotkey entry as the preferences store it.
Value entry(Value enabled, Value keyCode, Value mask) {
  return ValueMap{
      {"enabled", std::move(enabled)},
      {"value", ValueMap{{"parameters", ValueList{65535, std::move(keyCode), std::move(mask)}},
                         {"type", "standard"}}}};
}
Value entry(int64_t keyCode, int64_t mask) {
  return entry(1, keyCode, mask);
}

class HotkeyProbeTest : public HostTest {
 protected:
  void setTable(std::optional<Value> table) {
    desktop().userDefaults().store("com.apple.symbolichotkeys", "AppleSymbolicHotKeys",
                                   std::move(table));
  }
  void setEntries(std::vector<Value> entries) {
    ValueMap table;
    int id = 1;
    for (Value& e : entries) table.set(std::to_string(id++), std::move(e));
    setTable(Value(std::move(table)));
  }
  static std::optional<bool> isFree(std::optional<int64_t> keyCode,
                                    std::vector<std::string> modifiers = {}) {
    return HotkeyProbe::isFree(keyCode, modifiers);
  }
};

TEST_F(HotkeyProbeTest, AbsentOrNegativeKeyCodeGivesNoAnswerWithoutReadingTheTable) {
  setEntries({entry(21, kShift)});
  EXPECT_EQ(isFree(std::nullopt, {"shift"}), std::nullopt);
  EXPECT_EQ(isFree(-1, {"shift"}), std::nullopt);
  EXPECT_EQ(desktop().userDefaults().reads, 0);
}

TEST_F(HotkeyProbeTest, NoReadableTableGivesNoAnswerAndAnEmptyOneGivesTrue) {
  EXPECT_EQ(isFree(21), std::nullopt);
  setTable(Value(ValueList{entry(21, 0)}));  // not a map
  EXPECT_EQ(isFree(21), std::nullopt);
  setEntries({entry(21, 0)});
  desktop().userDefaults().unopenableSuites.insert("com.apple.symbolichotkeys");
  EXPECT_EQ(isFree(21), std::nullopt);
  desktop().userDefaults().unopenableSuites.clear();
  setEntries({});
  EXPECT_EQ(isFree(21), true);
}

TEST_F(HotkeyProbeTest, OnlyTheFourModifierBitsOfAnEntryAreCompared) {
  EXPECT_EQ(HotkeyProbe::modifierMask({"shift", "control", "alt", "meta", "shift"}), 0x1E0000);
  setEntries({entry(21, 0x120000)});
  EXPECT_EQ(isFree(21, {"meta", "shift"}), false);
  EXPECT_EQ(isFree(21, {"shift", "meta", "meta"}), false);
  EXPECT_EQ(isFree(21, {"meta"}), true);
  EXPECT_EQ(isFree(22, {"meta", "shift"}), true);
  // Key code 0 is a key like any other.
  setEntries({entry(0, 0x40000)});
  EXPECT_EQ(isFree(0, {"control"}), false);
  // 0x800000 lies outside the filter.
  setEntries({entry(21, 0x920000)});
  EXPECT_EQ(isFree(21, {"meta", "shift"}), false);
}

TEST_F(HotkeyProbeTest, NamesAreMatchedExactlySoOthersProbeWithNoModifiers) {
  EXPECT_EQ(HotkeyProbe::modifierMask({"Shift", "cmd", "META", ""}), 0);
  setEntries({entry(21, kShift)});
  EXPECT_EQ(isFree(21, {"Shift"}), true);
  setEntries({entry(21, 0x800000)});  // no modifier bit of the four
  EXPECT_EQ(isFree(21, {"Shift", "cmd"}), false);
  EXPECT_EQ(isFree(21, {}), false);
  EXPECT_EQ(isFree(21, {"shift"}), true);
}

TEST_F(HotkeyProbeTest, DisabledAndMalformedEntriesNeverTakeACombination) {
  const int64_t m = kMeta | kShift;
  ValueMap twoParameters{{"enabled", 1}, {"value", ValueMap{{"parameters", ValueList{65535, 21}}}}};
  ValueMap noValue{{"enabled", 1}};
  ValueMap valueNotMap{{"enabled", 1}, {"value", ValueList{65535, 21, m}}};
  ValueMap parametersNotList{{"enabled", 1}, {"value", ValueMap{{"parameters", "65535,21"}}}};
  setEntries({entry(0, 21, m), entry(false, 21, m), entry(Value(), 21, m), entry("1", 21, m),
              entry(1, "21", m), entry(1, 21, Value()), twoParameters, noValue, valueNotMap,
              parametersNotList, Value("not an entry"), Value(ValueList{1, 21, m})});
  EXPECT_EQ(isFree(21, {"meta", "shift"}), true);
}

TEST_F(HotkeyProbeTest, NumbersBeyondThirtyTwoBitsAreComparedWhole) {
  const int64_t big = (int64_t{1} << 32) + 21;
  // A key code of 2^32 + 21 is not key 21, either way round.
  setEntries({entry(big, kMeta)});
  EXPECT_EQ(isFree(21, {"meta"}), true);
  EXPECT_EQ(isFree(big, {"meta"}), false);
  setEntries({entry(21, kMeta)});
  EXPECT_EQ(isFree(big, {"meta"}), true);
  // Mask bits above bit 31 lie outside the modifier filter.
  setEntries({entry(21, (int64_t{1} << 40) | kMeta)});
  EXPECT_EQ(isFree(21, {"meta"}), false);
  // Reals no 64-bit integer can hold make the entry malformed: it takes nothing,
  // not even the key its saturated or wrapped value might name.
  for (double huge : {1e19, -1e19, 9.3e18, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    setEntries({entry(1, huge, kMeta), entry(1, 21.0, huge)});
    for (int64_t key : {int64_t{0}, int64_t{21}, std::numeric_limits<int64_t>::max()}) {
      EXPECT_EQ(isFree(key, {"meta"}), true) << huge << " " << key;
      EXPECT_EQ(isFree(key), true) << huge << " " << key;
    }
  }
  // Numbers may be stored as booleans or reals; a real below the bound reads as its integer.
  setEntries({entry(true, 21.0, static_cast<double>(kMeta))});
  EXPECT_EQ(isFree(21, {"meta"}), false);
  setEntries({entry(1, 9.0e18, static_cast<double>(kMeta))});
  EXPECT_EQ(isFree(int64_t{9'000'000'000'000'000'000}, {"meta"}), false);
}

TEST_F(HotkeyProbeTest, ProbeHotkeyPassesKeyCodeAndModifiersOnAndAnswersTheProbe) {
  launch();
  setEntries({entry(21, kMeta), entry(0, 0)});
  const Value meta = ValueList{"meta"};
  const std::pair<Value, Value> rows[] = {
      {ValueMap{{"keyCode", 21}, {"modifiers", meta}}, Value(false)},
      {ValueMap{{"keyCode", 21}}, Value(true)},
      {ValueMap{{"keyCode", (int64_t{1} << 32) + 21}, {"modifiers", meta}}, Value(true)},
      // A list holding a non-string counts as absent as a whole.
      {ValueMap{{"keyCode", 0}, {"modifiers", ValueList{"meta", 3}}}, Value(false)},
      // No integer key code is passed on as absent, not as key 0.
      {ValueMap{{"modifiers", meta}}, Value()},
      {ValueMap{{"keyCode", "0"}}, Value()},
      {ValueMap{{"keyCode", 0.0}}, Value()},
      {Value(), Value()},
  };
  for (const auto& [args, answer] : rows) {
    EXPECT_TRUE(isSuccess(capture("probeHotkey", args), answer)) << args.debugString();
  }
}

}  // namespace
}  // namespace dravel::testing
