// A host process the benchmarks start and call, and what they read of it:
// its memory.
#pragma once

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "channels/socket_client.h"
#include "channels/standard_codec.h"

namespace dravel {

// A field of /proc/PID/status, in kilobytes; -1 when it cannot be read.
inline long statusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
      return std::atol(line.c_str() + n + 1);
    }
  }
  return -1;
}

// Resets the process's peak resident size (VmHWM) to its current size.
inline bool resetPeak(pid_t pid) {
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  out << "5";
  return static_cast<bool>(out);
}

// A dravel-host the benchmark started, stopped when this goes.
struct HostProcess {
  pid_t pid = -1;
  std::string dir;
  std::string socket;
  std::string startError;
  ~HostProcess() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      int status = 0;
      waitpid(pid, &status, 0);
    }
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
};

// Starts DRAVEL_HOST_BINARY (else `fallback`) on `platform` with a private
// socket and waits up to 20 s until it listens; `startError` says why not.
inline std::unique_ptr<HostProcess> startHostProcess(const char* platform, const char* fallback) {
  auto h = std::make_unique<HostProcess>();
  const char* binary = std::getenv("DRAVEL_HOST_BINARY");
  const std::string path = binary ? binary : fallback;
  char dir[] = "/tmp/dravel-bench-XXXXXX";
  if (!mkdtemp(dir)) {
    h->startError = "mkdtemp failed";
    return h;
  }
  h->dir = dir;
  h->socket = h->dir + "/host.sock";
  const std::string log = h->dir + "/host.log";
  h->pid = fork();
  if (h->pid == 0) {
    if (!std::freopen(log.c_str(), "w", stderr)) _exit(126);
    execl(path.c_str(), path.c_str(), "--platform", platform, "--socket", h->socket.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string error;
    if (SocketClient::connect(h->socket, &error)) return h;
    int status = 0;
    if (waitpid(h->pid, &status, WNOHANG) == h->pid) {
      h->pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  h->startError = std::string("dravel-host --platform ") + platform + " (" + path +
                  ") did not start: " + text.str();
  return h;
}

// A client of `host`; null, with the benchmark skipped and why, when the host
// did not start or cannot be reached.
inline std::unique_ptr<SocketClient> clientOf(const HostProcess& host, benchmark::State& state) {
  if (!host.startError.empty()) {
    state.SkipWithError(host.startError.c_str());
    return nullptr;
  }
  std::string error;
  auto client = SocketClient::connect(host.socket, &error);
  if (!client) state.SkipWithError(error.c_str());
  return client;
}

// One "captureScreen" of the display, decoded; why it failed, or empty.
// `payload`: the pixel bytes the reply must carry (0: any).
inline std::string captureRoundTrip(SocketClient& client, uint32_t displayID, size_t payload) {
  ValueMap arguments;
  arguments.set("displayId", Value(static_cast<int64_t>(displayID)));
  std::string error;
  auto reply = client.call(
      "dravel/capture", StandardMethodCodec::encodeMethodCall({"captureScreen", Value(arguments)}),
      &error, 60);
  if (!reply) return "no reply: " + error;
  auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
  if (auto* bad = std::get_if<DecodeError>(&decoded)) return "undecodable reply: " + bad->what;
  auto& envelope = std::get<MethodEnvelope>(decoded);
  if (auto* failure = std::get_if<FlutterError>(&envelope)) {
    return "captureScreen answered " + failure->code + ": " + failure->message.value_or("");
  }
  auto bytes = std::get<Value>(envelope).bytesAt("bytes");
  if (!bytes || (payload && (*bytes)->size() != payload)) {
    return "the reply has not the payload expected";
  }
  benchmark::DoNotOptimize((*bytes)->data());
  return {};
}

}  // namespace dravel
