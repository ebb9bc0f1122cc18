#include "channels/value.h"

#include <gtest/gtest.h>

namespace dravel {
namespace {

// One case each way per reader: a wrong type reads as absent.
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
  EXPECT_FALSE(args.doubleAt("n"));  // an integer is not a double
  EXPECT_FALSE(args.stringAt("n"));
  EXPECT_FALSE(args.boolAt("name"));
  EXPECT_FALSE(args.bytesAt("name"));
  EXPECT_FALSE(args.stringListAt("mixed"));
  EXPECT_FALSE(args.mapListAt("intKeyedMaps"));
  EXPECT_FALSE(args.stringMapAt("badEnv"));

  EXPECT_EQ(Value(ValueMap{{"a", 1}}).argumentsOrEmpty(), Value(ValueMap{{"a", 1}}));
  EXPECT_EQ(Value(intKeyed).argumentsOrEmpty(), Value(ValueMap{}));
}

}  // namespace
}  // namespace dravel
