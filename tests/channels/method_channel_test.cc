#include "channels/flutter_result.h"

#include <gtest/gtest.h>

#include "channels/log.h"

namespace dravel {
namespace {

TEST(FlutterResultTest, SecondAnswerIsLoggedAndDropped) {
  ScopedLogCapture log;
  std::vector<MethodResponse> sent;
  FlutterResult result("test.method", [&](MethodResponse r) { sent.push_back(std::move(r)); });
  FlutterResult copy = result;
  result(Value(1));
  copy(FlutterError::errorWithCode("late"));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(std::get<Value>(sent[0]), Value(1));
  EXPECT_TRUE(copy.answered());
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("test.method"), std::string::npos);
}

TEST(FlutterResultTest, DroppedUnansweredAnswersAnErrorOnceTheLastCopyGoes) {
  ScopedLogCapture log;
  std::vector<MethodResponse> sent;
  {
    FlutterResult result("test.lost", [&](MethodResponse r) { sent.push_back(std::move(r)); });
    FlutterResult copy = result;
    { FlutterResult moved = std::move(result); }
    EXPECT_TRUE(sent.empty());  // `copy` still holds the call
  }
  ASSERT_EQ(sent.size(), 1u);
  auto* error = std::get_if<FlutterError>(&sent[0]);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, "no_reply");
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("test.lost"), std::string::npos);
}

}  // namespace
}  // namespace dravel
