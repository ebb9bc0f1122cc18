#include "host/hotkey_probe.h"

#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

constexpr int64_t kShift = 0x20000;
constexpr int64_t kMeta = 0x100000;

// A system hotkey entry as the preferences store it.
Value entry(int64_t keyCode, int64_t mask) {
  return ValueMap{
      {"enabled", 1},
      {"value", ValueMap{{"parameters", ValueList{65535, keyCode, mask}}, {"type", "standard"}}}};
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

// The Linux desktops' table is built from their settings and checked with
// this probe by the settings tests.
TEST_F(HotkeyProbeTest, ProbeHotkeyPassesKeyCodeAndModifiersOnAndAnswersTheProbe) {
  launch();
  setEntries({entry(21, kMeta), entry(0, 0)});
  const Value meta = ValueList{"meta"};
  const std::pair<Value, Value> rows[] = {
      {ValueMap{{"keyCode", 21}, {"modifiers", meta}}, Value(false)},
      {ValueMap{{"keyCode", 21}}, Value(true)},
      // A list holding a non-string counts as absent as a whole.
      {ValueMap{{"keyCode", 0}, {"modifiers", ValueList{"meta", 3}}}, Value(false)},
      // No integer key code is passed on as absent, not as key 0.
      {ValueMap{{"modifiers", meta}}, Value()},
      {ValueMap{{"keyCode", 0.0}}, Value()},
  };
  for (const auto& [args, answer] : rows) {
    EXPECT_TRUE(isSuccess(capture("probeHotkey", args), answer)) << args.debugString();
  }
}

}  // namespace
}  // namespace dravel::testing
