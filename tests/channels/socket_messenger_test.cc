#include "channels/socket_messenger.h"
#include "channels/socket_path.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "channels/log.h"
#include "channels/requester.h"
#include "channels/socket_client.h"
#include "tests/channels/socket_test_support.h"

namespace dravel {
namespace {

// The permission bits of `path`; -1 when it cannot be read.
int modeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

// A thread that runs `body` with a client connected to `path`; `ended` is
// set as it ends, whether the body finished or failed.
std::thread clientThread(const std::string& path, std::atomic<bool>& ended,
                         std::function<void(SocketClient&)> body) {
  ended = false;
  return std::thread([&ended, path, body] {
    struct Ended {
      std::atomic<bool>& flag;
      ~Ended() { flag = true; }
    } guard{ended};
    std::string error;
    auto client = SocketClient::connect(path, &error);
    ASSERT_TRUE(client) << error;
    body(*client);
  });
}

// A messenger on a private GLib context, pumped by the test's thread while a
// client talks to it from another thread.
class SocketMessengerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/dravel-socket-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(dir));
    dir_ = dir;
    path_ = dir_ + "/run/host.sock";
    messenger_ = std::make_unique<SocketMessenger>(context_);
  }
  void TearDown() override {
    if (client_.joinable()) client_.join();
    messenger_.reset();
    std::filesystem::remove_all(dir_);
  }

  void listen() {
    auto why = messenger_->listen(path_);
    ASSERT_FALSE(why) << *why;
  }
  // A new messenger with these options, listening.
  void listenWith(const SocketMessenger::Options& options) {
    messenger_ = std::make_unique<SocketMessenger>(context_, options);
    listen();
  }
  // Runs `body` with a connected client on client_, without pumping.
  void startClient(std::function<void(SocketClient&)> body) {
    client_ = clientThread(path_, clientEnded_, std::move(body));
  }
  void serveEcho() {
    messenger_->setMessageHandlerOnChannel("echo",
                                           [](std::span<const uint8_t> m, FlutterBinaryReply r) {
                                             r(Message(std::vector<uint8_t>(m.begin(), m.end())));
                                           });
  }

  bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
    return pumped_.pumpUntil(done, seconds);
  }

  // Runs `body` with a connected client on another thread; pumps until it ends.
  void withClient(std::function<void(SocketClient&)> body) {
    startClient(std::move(body));
    EXPECT_TRUE(pumpUntil([&] { return clientEnded_.load(); }));
    client_.join();
  }

  std::string dir_;
  std::string path_;
  testing::PumpedContext pumped_;
  GMainContext* context_ = pumped_.get();
  std::unique_ptr<SocketMessenger> messenger_;
  // How many logged lines hold `part`.
  size_t linesWith(const std::string& part) const {
    auto lines = log_.lines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }

  std::thread client_;
  std::atomic<bool> clientEnded_{false};
  ScopedLogCapture log_;
};

TEST_F(SocketMessengerTest, TheSocketAndItsFolderArePrivate) {
  listen();
  EXPECT_EQ(modeOf(dir_ + "/run"), 0700);
  EXPECT_EQ(modeOf(path_), 0600);
}

TEST_F(SocketMessengerTest, CallsTheInterfaceOnEveryClientAndTakesTheFirstAnswer) {
  listen();
  std::optional<Message> answer;
  messenger_->sendOnChannel("dravel/notifications", Message({1}), [&](Message m) { answer = m; });
  ASSERT_TRUE(answer) << "with no client the call is unhandled at once";
  EXPECT_TRUE(answer->empty());

  answer.reset();
  startClient([](SocketClient& client) {
    std::string error;
    auto frame = client.readFrame(&error, 10);
    ASSERT_TRUE(frame) << error;
    EXPECT_TRUE(client.sendFrame(FrameKind::kReply, frame->requestId, "", Message({42}), &error));
    // The next call is left unanswered: the client leaves once it has it.
    EXPECT_TRUE(client.readFrame(&error, 10)) << error;
  });
  ASSERT_TRUE(pumpUntil([&] { return messenger_->connectionCount() == 1; }));
  messenger_->sendOnChannel("dravel/notifications", Message({1}), [&](Message m) { answer = m; });
  ASSERT_TRUE(pumpUntil([&] { return answer.has_value(); }));
  EXPECT_EQ(answer->flatten(), (std::vector<uint8_t>{42}));

  // A client leaving counts as not handling the host's call.
  answer.reset();
  messenger_->sendOnChannel("c", Message({1}), [&](Message m) { answer = m; });
  ASSERT_TRUE(pumpUntil([&] { return answer.has_value(); }));
  EXPECT_TRUE(answer->empty());
  client_.join();
}

TEST_F(SocketMessengerTest, AHalfClosedClientIsStillAnswered) {
  listen();
  std::vector<FlutterBinaryReply> held;
  messenger_->setMessageHandlerOnChannel(
      "later",
      [&](std::span<const uint8_t>, FlutterBinaryReply r) { held.push_back(std::move(r)); });
  std::atomic<bool> gotReply{false};
  std::atomic<bool> asked{false};
  startClient([&](SocketClient& client) {
    std::string error;
    ASSERT_TRUE(client.sendFrame(FrameKind::kCall, 1, "later", Message({1}), &error));
    ::shutdown(client.fd(), SHUT_WR);  // done sending, still listening
    asked = true;
    auto frame = client.readFrame(&error, 10);
    gotReply = frame && frame->requestId == 1 && frame->payload == FrameBuffer{9};
  });
  ASSERT_TRUE(pumpUntil([&] { return held.size() == 1 && asked; }));
  held[0](Message({9}));
  client_.join();
  EXPECT_TRUE(gotReply);
}

TEST_F(SocketMessengerTest, CallsOfAClientThatLeftReportTheirRequesterGoneAndReplyNoMore) {
  listen();
  std::vector<std::shared_ptr<Requester>> requesters;
  std::vector<FlutterBinaryReply> held;
  int goneCallbacks = 0;
  messenger_->setMessageHandlerOnChannel("later",
                                         [&](std::span<const uint8_t>, FlutterBinaryReply r) {
                                           auto requester = currentRequester();
                                           requester->onGone([&] { ++goneCallbacks; });
                                           requesters.push_back(std::move(requester));
                                           held.push_back(std::move(r));
                                         });
  withClient([](SocketClient& client) {
    std::string error;
    ASSERT_TRUE(client.sendFrame(FrameKind::kCall, 1, "later", Message({1}), &error));
    ASSERT_TRUE(client.sendFrame(FrameKind::kCall, 2, "later", Message({1}), &error));
  });
  ASSERT_TRUE(pumpUntil([&] { return requesters.size() == 2; }));
  // Both calls came over one connection: one requester.
  EXPECT_EQ(requesters[0], requesters[1]);
  ASSERT_TRUE(pumpUntil([&] { return messenger_->connectionCount() == 0; }));
  EXPECT_TRUE(requesters[0]->gone());
  EXPECT_EQ(goneCallbacks, 2);
  // Answered after the client went, and answered twice: each logged, once.
  held[1](Message({9}));
  held[1](Message({9}));
  EXPECT_EQ(linesWith("went away before the reply to request 2"), 1u);
  EXPECT_EQ(linesWith("second reply to request 2"), 1u);
}

TEST_F(SocketMessengerTest, CallsPipelinedPastTheUnansweredLimitWaitTheirTurn) {
  SocketMessenger::Options options;
  options.maxUnansweredCalls = 4;
  listenWith(options);
  std::vector<std::pair<uint64_t, FlutterBinaryReply>> held;
  messenger_->setMessageHandlerOnChannel("later",
                                         [&](std::span<const uint8_t> m, FlutterBinaryReply r) {
                                           held.emplace_back(m[0], std::move(r));
                                         });
  constexpr uint64_t kCalls = 20;
  std::atomic<bool> sent{false};
  std::map<uint64_t, int> answers;
  startClient([&](SocketClient& client) {
    std::string error;
    for (uint64_t id = 1; id <= kCalls; ++id) {
      ASSERT_TRUE(client.sendFrame(FrameKind::kCall, id, "later",
                                   Message({static_cast<uint8_t>(id)}), &error));
    }
    sent = true;
    for (uint64_t i = 0; i < kCalls; ++i) {
      auto frame = client.readFrame(&error, 20);
      ASSERT_TRUE(frame) << error;
      EXPECT_EQ(frame->payload, FrameBuffer{static_cast<uint8_t>(frame->requestId)});
      ++answers[frame->requestId];
    }
  });
  ASSERT_TRUE(pumpUntil([&] { return sent && messenger_->pausedConnectionCount() == 1; }));
  for (int i = 0; i < 20; ++i) g_main_context_iteration(context_, TRUE);
  EXPECT_EQ(held.size(), options.maxUnansweredCalls);
  // Each answer lets one more call in.
  size_t answered = 0;
  while (answered < kCalls) {
    ASSERT_TRUE(pumpUntil([&] { return held.size() > answered; }));
    EXPECT_LE(held.size() - answered, options.maxUnansweredCalls);
    auto& [value, reply] = held[answered++];
    reply(Message({static_cast<uint8_t>(value)}));
  }
  ASSERT_TRUE(pumpUntil([&] { return clientEnded_.load(); }));
  client_.join();
  EXPECT_EQ(answers.size(), kCalls);
  for (uint64_t id = 1; id <= kCalls; ++id) EXPECT_EQ(answers[id], 1) << id;
}

// Costly calls (captures) of several clients held within the total bound (one
// client's own bound is the hostile-clients process test's), large frames read
// one at a time; a client that reads is answered meanwhile.
TEST_F(SocketMessengerTest, WhatClientsMakeTheHostHoldStaysWithinItsBounds) {
  constexpr size_t kMiB = 1 << 20;
  struct Case {
    size_t clients, calls, payload, cost, perClient, total, halves, paused, bound;
  };
  for (const Case& c : {Case{3, 40, 1, kMiB, 16 * kMiB, 8 * kMiB, 3, 3, 11 * kMiB},
                        Case{3, 1, 9 * kMiB, 0, 16 * kMiB, 8 * kMiB, 1, 2, 10 * kMiB}}) {
    SocketMessenger::Options options;
    options.maxQueuedReplyBytes = c.perClient;
    options.maxBufferedBytes = c.total;
    listenWith(options);
    messenger_->setReplyCost("x", [&](std::span<const uint8_t>) { return c.cost; });
    std::vector<FlutterBinaryReply> making;  // replies under way, as captures are
    messenger_->setMessageHandlerOnChannel(
        "x", [&](std::span<const uint8_t> m, FlutterBinaryReply r) {
          m[0] ? r(Message({1})) : making.push_back(std::move(r));
        });
    std::atomic<size_t> halves{0}, done{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (size_t i = 0; i < c.clients; ++i) {
      clients.emplace_back([&] {
        std::string error;
        auto client = SocketClient::connect(path_, &error);
        ASSERT_TRUE(client) << error;
        std::vector<uint8_t> stream;
        for (uint64_t id = 1; id <= c.calls; ++id) {
          auto frame = frameMessage(FrameKind::kCall, id, "x", Message(ByteBuffer(c.payload, 0)));
          std::ranges::copy(frame.flatten(), std::back_inserter(stream));
        }
        const std::span<const uint8_t> all(stream);
        ASSERT_TRUE(client->sendBytes(all.first(all.size() / 2), &error));
        ++halves;
        go.wait(false);
        ASSERT_TRUE(client->sendBytes(all.subspan(all.size() / 2), &error));
        for (uint64_t id = 1; id <= c.calls; ++id) {
          auto frame = client->readFrame(&error, 20);
          ASSERT_TRUE(frame) << error;
          EXPECT_EQ(frame->requestId, id);
        }
        ++done;
      });
    }
    // Paused between frames, or (large frames) at a header, their senders blocked.
    EXPECT_TRUE(pumpUntil(
        [&] { return halves == c.halves && messenger_->pausedConnectionCount() == c.paused; }));
    EXPECT_LE(std::max(making.size() * c.cost, messenger_->heldBytes()), c.bound);
    withClient([](SocketClient& client) {
      std::string error;
      for (int i = 0; i < 2; ++i) EXPECT_TRUE(client.call("x", Message({1}), &error, 10)) << error;
    });
    go = true;
    go.notify_all();
    EXPECT_TRUE(pumpUntil([&] {
      for (auto& reply : std::exchange(making, {})) reply(Message({2}));
      return done == c.clients;
    }));
    for (auto& client : clients) client.join();
  }
}

TEST_F(SocketMessengerTest, AClientStalledInsideAFrameIsDroppedAndOthersAreServed) {
  SocketMessenger::Options options;
  options.frameIdleTimeoutSeconds = 0.5;
  listenWith(options);
  serveEcho();
  std::atomic<bool> dropped{false};
  startClient([&](SocketClient& client) {
    std::string error;
    // The header of a 32 MB call and a few of its bytes, then nothing.
    std::vector<uint8_t> start = encodeFrameHeader(FrameKind::kCall, 1, "echo", 32 << 20);
    start.insert(start.end(), {'e', 'c', 'h', 'o', 1, 2, 3});
    ASSERT_TRUE(client.sendBytes(start, &error));
    dropped = !client.readFrame(&error, 30);
  });
  ASSERT_TRUE(pumpUntil([&] { return clientEnded_.load(); }, 30));
  EXPECT_TRUE(dropped);
  client_.join();
  withClient([](SocketClient& client) {
    std::string error;
    auto reply = client.call("echo", Message({7}), &error, 10);
    ASSERT_TRUE(reply) << error;
    EXPECT_EQ(**reply, (ByteBuffer{7}));
  });
}

TEST_F(SocketMessengerTest, OutOfDescriptorsItBacksOffLogsOnceAndServesWhenTheyFree) {
  listen();
  serveEcho();
  // The client connects (its descriptor made first) and waits in the backlog.
  std::string error;
  auto client = SocketClient::connect(path_, &error);
  ASSERT_TRUE(client) << error;

  // Under the sanitizers, the first check of a call's dynamic type probes
  // memory through a pipe, which cannot be made once the descriptors run out:
  // the host's logging is done once first, while that check still can be, and
  // the log is read only once the descriptors are back.
  NSLog("[test] the descriptors run out next");
  // Every descriptor the process may have is taken.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 512);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> filler;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
  const int openErrno = errno;
  auto freeAll = [&] {
    for (int fd : filler) ::close(fd);
    filler.clear();
    ::setrlimit(RLIMIT_NOFILE, &saved);
  };
  ASSERT_EQ(openErrno, EMFILE);

  // A spinning host would try (and log) on every turn of the loop.
  for (int i = 0; i < 200; ++i) g_main_context_iteration(context_, FALSE);
  const gint64 until = g_get_monotonic_time() + 300000;
  while (g_get_monotonic_time() < until) g_main_context_iteration(context_, TRUE);
  const size_t connectedWhileOut = messenger_->connectionCount();
  freeAll();
  EXPECT_EQ(connectedWhileOut, 0u);
  auto failures = [&] {
    return linesWith("[socket] cannot accept connections") + linesWith("[socket] accept failed");
  };
  EXPECT_EQ(failures(), 1u);

  // Once descriptors are free again, the waiting client is served.
  std::atomic<bool> answered{false};
  client_ = std::thread([&] {
    std::string why;
    auto reply = client->call("echo", Message({3}), &why, 20);
    EXPECT_TRUE(reply) << why;
    answered = reply && **reply == ByteBuffer{3};
  });
  EXPECT_TRUE(pumpUntil([&] { return answered.load(); }, 20));
  client_.join();
  EXPECT_EQ(failures(), 1u);
}

TEST_F(SocketMessengerTest, ReplacesAStaleSocketButRefusesOtherFilesAndLongPaths) {
  std::filesystem::create_directories(dir_ + "/run");
  // A socket file whose host is gone.
  ::close(testing::boundSocket(path_));
  listen();

  // A host that takes no connections (stopped, its queue full) is reported
  // after a bounded wait, not waited for.
  const std::string frozen = dir_ + "/frozen.sock";
  const int listener = testing::boundSocket(frozen, 0);
  const std::vector<int> queued = testing::fillBacklog(frozen);
  auto why = prepareSocketPath(frozen, false, std::chrono::milliseconds(200));
  EXPECT_NE(why.value_or("").find(frozen + " but takes no connections"), std::string::npos);
  for (int c : queued) ::close(c);
  ::close(listener);

  std::string plain = dir_ + "/plain";
  std::ofstream(plain) << "x";
  SocketMessenger second(context_);
  why = second.listen(plain);
  EXPECT_EQ(why.value_or(""), plain + " exists and is not a socket");
  why = second.listen(dir_ + "/" + std::string(120, 'a'));
  EXPECT_NE(why.value_or("").find("longer than"), std::string::npos);
}

TEST_F(SocketMessengerTest, TheDefaultKindOfFolderMustBeOurOwnRealPrivateFolder) {
  SocketMessenger::Options strict;
  strict.strictFolder = true;
  const std::string folder = dir_ + "/run";
  std::filesystem::create_directories(folder);
  ::chmod(folder.c_str(), 0755);
  auto refusal = [&](const std::string& path) {
    return SocketMessenger(context_, strict).listen(path).value_or("");
  };
  EXPECT_EQ(refusal(path_), "");
  EXPECT_EQ(modeOf(folder), 0700) << "made private";
  const std::string link = dir_ + "/link";
  std::filesystem::create_directory_symlink(folder, link);
  EXPECT_EQ(refusal(link + "/host.sock"), "folder " + link + " is a link or cannot be read");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_EQ(refusal(path_), "folder " + folder + " belongs to another user");
  }
}

}  // namespace
}  // namespace dravel
