#include "channels/value.h"

#include <gtest/gtest.h>

#include <cmath>

namespace dravel {
namespace {

TEST(ValueTest, TypedReadsDoNotConvert) {
  EXPECT_EQ(Value(7).asInt(), 7);
  EXPECT_FALSE(Value(7).asDouble());  // an integer is not a double
  EXPECT_FALSE(Value(7.0).asInt());
  EXPECT_FALSE(Value(true).asInt());
  EXPECT_FALSE(Value("7").asInt());
  EXPECT_EQ(Value(int64_t{1} << 40).asInt(), int64_t{1} << 40);
  EXPECT_EQ((*Value(Bytes()).asBytes())->size(), 0u);  // a null buffer reads as empty
}

TEST(ValueTest, MapSetFindErase) {
  ValueMap map{{"a", 1}, {"b", 2}, {"a", 3}};
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(*map.find("a"), Value(3));
  map.set(Value(1), "one");  // non-string keys are found by value, not by text
  EXPECT_EQ(*map.find(Value(1)), Value("one"));
  EXPECT_FALSE(map.find("1"));
  EXPECT_FALSE(map.hasStringKeys());
  map.erase("a");
  EXPECT_FALSE(map.contains("a"));
  EXPECT_EQ(map.size(), 2u);

  ValueMap received;
  received.append("k", 1);
  received.append("k", 2);
  EXPECT_EQ(*received.find("k"), Value(2));  // the last of a repeated key wins
}

TEST(ValueTest, ArgumentReadersTreatWrongTypesAsAbsent) {
  ValueMap intKeyed;
  intKeyed.set(Value(1), 2);
  Value args(ValueMap{{"n", 5},
                      {"name", "w"},
                      {"tags", ValueList{"a", "b"}},
                      {"mixed", ValueList{"a", 1}},
                      {"maps", ValueList{ValueMap{{"k", 1}}}},
                      {"intKeyedMaps", ValueList{ValueMap{{"k", 1}}, intKeyed}},
                      {"env", ValueMap{{"HOME", "/h"}}},
                      {"badEnv", ValueMap{{"HOME", 1}}}});
  EXPECT_EQ(args.stringListAt("tags"), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(args.mapListAt("maps"));
  EXPECT_EQ(args.mapListAt("maps")->at(0), (ValueMap{{"k", 1}}));
  EXPECT_EQ(args.stringMapAt("env")->at(0), (std::pair<std::string, std::string>{"HOME", "/h"}));

  EXPECT_FALSE(args.intAt("missing"));
  EXPECT_FALSE(args.doubleAt("n"));
  EXPECT_FALSE(args.stringAt("n"));
  EXPECT_FALSE(args.boolAt("name"));
  EXPECT_FALSE(args.bytesAt("name"));
  EXPECT_FALSE(args.stringListAt("mixed"));
  EXPECT_FALSE(args.stringListAt("name"));
  EXPECT_FALSE(args.mapListAt("tags"));
  EXPECT_FALSE(args.mapListAt("intKeyedMaps"));
  EXPECT_FALSE(args.stringMapAt("badEnv"));
  EXPECT_FALSE(Value(3).intAt("n"));

  EXPECT_EQ(Value(ValueList{1}).argumentsOrEmpty(), Value(ValueMap{}));
  EXPECT_EQ(Value(ValueMap{{"a", 1}}).argumentsOrEmpty(), Value(ValueMap{{"a", 1}}));
  EXPECT_EQ(Value(intKeyed).argumentsOrEmpty(), Value(ValueMap{}));
  EXPECT_EQ(Value().argumentsOrEmpty(), Value(ValueMap{}));
}

TEST(ValueTest, Equality) {
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_EQ(Value(NAN), Value(NAN));
  EXPECT_EQ(Value(Float32List{{NAN, 1}}), Value(Float32List{{NAN, 1}}));
  EXPECT_NE(Value(Float64List{{1, 2}}), Value(Float64List{{1, 3}}));
  EXPECT_EQ(bytesValue("ab", 2), Value(ByteBuffer{'a', 'b'}));  // by content
  EXPECT_EQ(Value(ValueMap{{"a", 1}, {"b", 2}}), Value(ValueMap{{"b", 2}, {"a", 1}}));
  EXPECT_NE(Value(ValueMap{{"a", 1}, {"b", 2}}), Value(ValueMap{{"a", 1}, {"c", 2}}));
  EXPECT_NE(Value(ValueMap{{"a", 1}}), Value(ValueMap{{"a", 1}, {"b", 2}}));
  EXPECT_NE(Value(ValueList{1, 2}), Value(ValueList{2, 1}));
  EXPECT_NE(Value(ValueList{}), Value(ValueMap{}));
}

TEST(ValueTest, DebugString) {
  Value v(ValueMap{{"a", ValueList{1, 2.0, nullptr, true}}, {"s", "q\"\n"}});
  EXPECT_EQ(v.debugString(), R"({"a": [1, 2.0, null, true], "s": "q\"\n"})");
  EXPECT_EQ(Value(ByteBuffer{0, 255}).debugString(), "bytes[00, ff]");
  EXPECT_EQ(Value(Float32List{{0.1f}}).debugString(), "float32[0.1]");
  std::string shown = Value(Int32List{std::vector<int32_t>(100, 0)}).debugString();
  EXPECT_LT(shown.size(), 100u);
  EXPECT_NE(shown.find("100 total"), std::string::npos);
}

}  // namespace
}  // namespace dravel
