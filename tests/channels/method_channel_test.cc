#include "channels/method_channel.h"

#include <gtest/gtest.h>

#include "channels/in_process_messenger.h"
#include "channels/log.h"
#include "channels/standard_codec.h"

namespace dravel {
namespace {

struct Pair {
  Pair() {
    auto p = InProcessMessenger::makePair();
    host = p.first;
    ui = p.second;
  }
  std::shared_ptr<InProcessMessenger> host;
  std::shared_ptr<InProcessMessenger> ui;
};

std::optional<MethodResponse> callOnce(InProcessMessenger& ui, const std::string& channel,
                                       const std::string& method, Value args = {}) {
  std::optional<MethodResponse> reply;
  FlutterMethodChannel(channel, &ui).invokeMethod(method, std::move(args), [&](MethodResponse r) {
    reply = std::move(r);
  });
  return reply;
}

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
  EXPECT_EQ(log.count("[channels] test.method was answered twice; the second answer is dropped"),
            1u);
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
  EXPECT_EQ(log.count("[channels] test.lost was dropped without an answer"), 1u);
}

TEST(MethodChannelTest, CallsAndRepliesCrossTheCodecAsBytes) {
  Pair p;
  FlutterMethodChannel("dravel/test", p.host.get())
      .setMethodCallHandler([](const FlutterMethodCall& call, FlutterResult result) {
        if (call.method == "echo") {
          result(call.arguments);
        } else if (call.method == "fail") {
          result(FlutterError::errorWithCode("bad_args", "path expected"));
        } else {
          result(FlutterMethodNotImplemented);
        }
      });
  // The channel object is gone; its handler stays in force.
  Value args(ValueMap{{"n", Value(int64_t{1} << 40)}, {"s", "x"}, {"b", ByteBuffer{1, 2}}});
  auto echo = callOnce(*p.ui, "dravel/test", "echo", args);
  ASSERT_TRUE(echo);
  EXPECT_EQ(std::get<Value>(*echo), args);

  auto fail = callOnce(*p.ui, "dravel/test", "fail");
  ASSERT_TRUE(fail);
  EXPECT_EQ(std::get<FlutterError>(*fail),
            FlutterError::errorWithCode("bad_args", "path expected"));

  auto missing = callOnce(*p.ui, "dravel/test", "nope");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*missing));

  auto noChannel = callOnce(*p.ui, "dravel/other", "echo");
  ASSERT_TRUE(noChannel);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(*noChannel));
}

TEST(MethodChannelTest, UndecodableCallIsAnsweredWithoutReachingTheHandler) {
  ScopedLogCapture log;
  Pair p;
  int calls = 0;
  FlutterMethodChannel("dravel/test", p.host.get())
      .setMethodCallHandler([&](const FlutterMethodCall&, FlutterResult r) {
        ++calls;
        r(Value());
      });
  std::optional<Message> reply;
  p.ui->sendOnChannel("dravel/test", Message(std::vector<uint8_t>{7, 200}),
                      [&](Message m) { reply = std::move(m); });
  EXPECT_EQ(calls, 0);
  ASSERT_TRUE(reply);
  auto bytes = reply->flatten();
  auto envelope = StandardMethodCodec::decodeEnvelope(bytes);
  ASSERT_TRUE(std::holds_alternative<MethodEnvelope>(envelope));
  EXPECT_EQ(std::get<FlutterError>(std::get<MethodEnvelope>(envelope)).code, "bad_call");
}

TEST(MethodChannelTest, InvokeMethodWithoutReplyReachesTheInterface) {
  Pair p;
  std::vector<FlutterMethodCall> seen;
  FlutterMethodChannel("dravel/notifications", p.ui.get())
      .setMethodCallHandler([&](const FlutterMethodCall& call, FlutterResult r) {
        seen.push_back(call);
        r(Value());
      });
  FlutterMethodChannel("dravel/notifications", p.host.get())
      .invokeMethod("clicked", Value(ValueMap{{"id", "update"}}));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "clicked");
  EXPECT_EQ(seen[0].arguments.stringAt("id"), "update");
}

}  // namespace
}  // namespace dravel
