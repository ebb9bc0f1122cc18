// dravelctl: talks to a running dravel-host over its socket.
//
//   dravelctl [--socket PATH] [--timeout SECONDS] call CHANNEL METHOD [JSON | @FILE]
//   dravelctl [--socket PATH] [--timeout SECONDS] screenshot [--display ID]
//             [--compression fast|default|small] -o FILE.png
//   dravelctl [--socket PATH] watch
//
// Exit status: 0 success, 1 an error reply (or a method nobody implements,
// or a PNG that could not be encoded), 2 bad usage (or an argument file that
// cannot be read, or a screenshot file that cannot be written), 3 no host, a
// broken connection or a timeout, 4 a socket or host of another user refused.
#include <openssl/evp.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/screenshot_file.h"
#include "channels/socket_client.h"
#include "channels/socket_messenger.h"
#include "channels/socket_path.h"
#include "channels/standard_codec.h"
#include "platform/linux/session/linux_process_info.h"
#include "platform/shared/png_encoder.h"
#include "platform/sim/json_value.h"

namespace {

using namespace dravel;

constexpr int kExitErrorReply = 1;
constexpr int kExitUsage = 2;
constexpr int kExitConnection = 3;
constexpr int kExitUntrusted = 4;

// Connecting and each call give up after this long unless --timeout says
// otherwise: generous enough for the largest capture the host makes.
constexpr double kDefaultTimeoutSeconds = 60;
// The longest --timeout taken: a day.
constexpr double kMaxTimeoutSeconds = 86400;
// While a capture waits, how often the host is asked whether the desktop
// shows its permission prompt.
constexpr double kPromptLookSeconds = 0.25;
// How long one such question may take.
constexpr double kPromptQuestionSeconds = 2;

const char* const kUsage =
    "usage: dravelctl [--socket PATH] [--timeout SECONDS] COMMAND\n"
    "  --socket PATH     the host's socket (default: the host's default socket, else\n"
    "                    a sandboxed host's, when only that one serves)\n"
    "  --timeout SECONDS how long connecting and each call may take, more than 0 and\n"
    "                    at most 86400 (default 60); watch waits for calls without end\n"
    "  call CHANNEL METHOD [JSON|@FILE] send one method call, print the reply as JSON\n"
    "      JSON integers are integers, other numbers doubles; {\"$int\": N},\n"
    "      {\"$double\": N}, {\"$hex\": \"...\"} and {\"$file\": PATH} say a type exactly\n"
    "  screenshot [--display ID] [--compression fast|default|small] -o FILE.png\n"
    "                                   capture a screen and write it as PNG\n"
    "      (fast, the default, is quickest; small takes longest for the smallest file)\n"
    "  watch                            print the host's calls to the interface\n"
    "exit status: 0 success, 1 error reply, 2 bad usage, unreadable or unwritable file,\n"
    "  3 no host / broken connection / timeout, 4 socket or host of another user\n";

std::string hex(const unsigned char* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

std::string sha256(std::span<const uint8_t> bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    return "";
  }
  return hex(digest, length);
}

// Raw bytes are summarised, never dumped.
std::string renderBytes(std::span<const uint8_t> bytes) {
  return "{\"$bytes\":{\"length\":" + std::to_string(bytes.size()) + ",\"sha256\":\"" +
         sha256(bytes) + "\"}}";
}

struct Context {
  std::string socket;
  // Found by the client itself: its folder is checked as the default's is.
  bool foundSocket = false;
  double timeout = kDefaultTimeoutSeconds;
};

int usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// Channel names travel in the frame header, which bounds them.
bool validChannel(const std::string& channel) {
  if (!channel.empty() && channel.size() <= kMaxChannelNameSize) return true;
  std::fprintf(stderr, "dravelctl: a channel name has 1 to %zu bytes\n", kMaxChannelNameSize);
  return false;
}

// The socket's owner and the listener's credentials are checked: a socket of
// another user, or a listener running as one, is refused before anything is
// sent, so nothing of this call reaches them and nothing they answer is used.
std::unique_ptr<SocketClient> connectOrSay(const Context& context, int& exitCode) {
  std::string error;
  bool refused = false;
  ConnectOptions options;
  options.timeoutSeconds = context.timeout;
  options.strictFolder = context.foundSocket;
  auto client = SocketClient::connect(context.socket, &error, options, &refused);
  if (!client) {
    if (refused) {
      std::fprintf(stderr, "dravelctl: %s\n", error.c_str());
      exitCode = kExitUntrusted;
    } else {
      std::fprintf(stderr, "dravelctl: %s (is dravel-host running?)\n", error.c_str());
      exitCode = kExitConnection;
    }
  }
  return client;
}

double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// How long the host gives the desktop's permission prompt, read as the host
// reads it: DRAVEL_PORTAL_TIMEOUT_MS milliseconds (held within 100 and
// 600000), else 60 s.
double promptWaitSeconds() {
  const char* text = std::getenv("DRAVEL_PORTAL_TIMEOUT_MS");
  if (text && *text) {
    char* end = nullptr;
    const long long ms = std::strtoll(text, &end, 10);
    if (end && *end == '\0' && ms > 0) return double(std::clamp<long long>(ms, 100, 600000)) / 1000;
  }
  return 60;
}

// Asks the host, on a connection of its own, whether the desktop shows its
// permission prompt. Absent when it cannot tell (no second connection, a
// host that does not answer the question): it is not asked again then.
class PromptWatch {
 public:
  explicit PromptWatch(const Context& context) : context_(context) {}

  std::optional<bool> visible(double deadline) {
    const double left = std::min(deadline - monotonicSeconds(), kPromptQuestionSeconds);
    if (left <= 0) return false;
    std::string error;
    if (!client_) {
      ConnectOptions options;
      options.timeoutSeconds = left;
      options.strictFolder = context_.foundSocket;
      client_ = SocketClient::connect(context_.socket, &error, options);
      if (!client_) return std::nullopt;
    }
    bool timedOut = false;
    auto id = client_->sendCall("dravel/capture",
                                StandardMethodCodec::encodeMethodCall({"isPromptVisible", Value()}),
                                &error, left);
    auto reply = id ? client_->awaitReply(*id, &error, left, &timedOut) : std::nullopt;
    if (!reply && timedOut) return false;  // a busy host: asked again later
    std::optional<bool> answer;
    if (reply && !(*reply)->empty()) {
      auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
      auto* envelope = std::get_if<MethodEnvelope>(&decoded);
      auto* value = envelope ? std::get_if<Value>(envelope) : nullptr;
      if (value) answer = value->asBool();
    }
    return answer;
  }

 private:
  const Context& context_;
  std::unique_ptr<SocketClient> client_;
};

// Waits for the reply to call `id` until `deadline`. While it waits the host
// is asked now and then whether the desktop shows its permission prompt, on
// a second connection: this one reads nothing more while a capture is
// unanswered. Once the prompt is seen, the user is told so, once, and the
// wait lasts as long as the host's own for the answer on top of what was
// left, so that the host's answer (the capture, or why there is none) comes
// before the client gives up.
std::optional<Bytes> awaitCapture(const Context& context, SocketClient& client, uint64_t id,
                                  double deadline, std::string* error) {
  PromptWatch watch(context);
  bool watching = true;
  bool seen = false;
  double nextLook = monotonicSeconds() + kPromptLookSeconds;
  for (;;) {
    const double now = monotonicSeconds();
    const double until = watching ? std::min(deadline, nextLook) : deadline;
    bool timedOut = false;
    auto reply = client.awaitReply(id, error, std::max(until - now, 0.0), &timedOut);
    if (reply || !timedOut || monotonicSeconds() >= deadline) return reply;
    if (!watching || monotonicSeconds() < nextLook) continue;
    std::optional<bool> visible = watch.visible(deadline);
    const double lookedAt = monotonicSeconds();
    nextLook = lookedAt + kPromptLookSeconds;
    watching = visible.has_value();
    if (!visible || !*visible) continue;
    if (!seen) {
      std::fputs(
          "dravelctl: the desktop is asking for permission to capture the screen; waiting for "
          "the answer\n",
          stderr);
      seen = true;
      deadline += promptWaitSeconds();
    } else {
      deadline = std::max(deadline, lookedAt + promptWaitSeconds());
    }
  }
}

// A reply, decoded. The value; otherwise prints why and sets `exitCode`.
std::optional<Value> decodeReply(const std::string& channel, const std::string& method,
                                 std::optional<Bytes> reply, const std::string& error,
                                 int& exitCode) {
  if (!reply) {
    std::fprintf(stderr, "dravelctl: %s\n", error.c_str());
    exitCode = kExitConnection;
    return std::nullopt;
  }
  if ((*reply)->empty()) {
    std::fprintf(stderr, "dravelctl: %s.%s is not implemented\n", channel.c_str(), method.c_str());
    exitCode = kExitErrorReply;
    return std::nullopt;
  }
  auto decoded = StandardMethodCodec::decodeEnvelope(*reply);
  if (auto* bad = std::get_if<DecodeError>(&decoded)) {
    std::fprintf(stderr, "dravelctl: undecodable reply (%s)\n", bad->what.c_str());
    exitCode = kExitConnection;
    return std::nullopt;
  }
  auto& envelope = std::get<MethodEnvelope>(decoded);
  if (auto* failure = std::get_if<FlutterError>(&envelope)) {
    std::fprintf(stderr, "error %s: %s\n", failure->code.c_str(),
                 failure->message ? failure->message->c_str() : "(no message)");
    if (!failure->details.isNull()) {
      std::fprintf(stderr, "details: %s\n",
                   sim::jsonFromValue(failure->details, -1, renderBytes).c_str());
    }
    exitCode = kExitErrorReply;
    return std::nullopt;
  }
  return std::get<Value>(std::move(envelope));
}

// Sends one call. The decoded reply; otherwise prints why and sets `exitCode`.
std::optional<Value> callHost(const Context& context, SocketClient& client,
                              const std::string& channel, const std::string& method,
                              Value arguments, int& exitCode) {
  std::string error;
  auto reply = client.call(channel, StandardMethodCodec::encodeMethodCall({method, arguments}),
                           &error, context.timeout);
  return decodeReply(channel, method, std::move(reply), error, exitCode);
}

int commandCall(const Context& context, const std::vector<std::string>& args) {
  if (args.size() < 2 || args.size() > 3) return usage();
  if (!validChannel(args[0])) return usage();
  if (args[1].empty()) {
    std::fprintf(stderr, "dravelctl: empty method name\n");
    return usage();
  }
  Value arguments;
  if (args.size() == 3) {
    std::string text = args[2];
    if (!text.empty() && text[0] == '@') {
      std::string why;
      auto contents = sim::readInputFile(text.substr(1), sim::kMaxJsonFileSize, &why);
      if (!contents) {
        std::fprintf(stderr, "dravelctl: %s\n", why.c_str());
        return kExitUsage;
      }
      text = std::move(*contents);
    }
    auto parsed = sim::valueFromJson(text, {.typedMarkers = true});
    if (auto* why = std::get_if<std::string>(&parsed)) {
      std::fprintf(stderr, "dravelctl: arguments: %s\n", why->c_str());
      return kExitUsage;
    }
    arguments = std::get<Value>(std::move(parsed));
  }
  int exitCode = 0;
  auto client = connectOrSay(context, exitCode);
  if (!client) return exitCode;
  auto value = callHost(context, *client, args[0], args[1], std::move(arguments), exitCode);
  if (!value) return exitCode;
  std::printf("%s\n", sim::jsonFromValue(*value, 2, renderBytes).c_str());
  return 0;
}

int commandScreenshot(const Context& context, const std::vector<std::string>& args) {
  std::string output;
  std::optional<int64_t> display;
  PngEncodeOptions encoding;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-o" || args[i] == "--output") && i + 1 < args.size()) {
      output = args[++i];
    } else if (args[i] == "--display" && i + 1 < args.size()) {
      // Display ids are unsigned 32-bit numbers.
      const std::string& text = args[++i];
      char* end = nullptr;
      errno = 0;
      long long id = std::strtoll(text.c_str(), &end, 10);
      if (text.empty() || !end || *end != '\0' || errno == ERANGE || id < 0 || id > UINT32_MAX) {
        std::fprintf(stderr, "dravelctl: bad display id \"%s\" (0 to %u)\n", text.c_str(),
                     UINT32_MAX);
        return usage();
      }
      display = id;
    } else if (args[i] == "--compression" && i + 1 < args.size()) {
      auto compression = pngCompressionNamed(args[++i]);
      if (!compression) {
        std::fprintf(stderr, "dravelctl: bad compression \"%s\" (fast, default or small)\n",
                     args[i].c_str());
        return usage();
      }
      encoding.compression = *compression;
    } else {
      return usage();
    }
  }
  if (output.empty()) return usage();
  // The target is checked before anything is captured.
  std::string why;
  auto file = ScreenshotFile::open(output, &why);
  if (!file) {
    std::fprintf(stderr, "dravelctl: %s\n", why.c_str());
    return kExitUsage;
  }
  ValueMap arguments;
  if (display) arguments.set("displayId", Value(*display));
  int exitCode = 0;
  auto client = connectOrSay(context, exitCode);
  if (!client) return exitCode;
  const double start = monotonicSeconds();
  std::string error;
  auto id = client->sendCall(
      "dravel/capture",
      StandardMethodCodec::encodeMethodCall({"captureScreen", Value(std::move(arguments))}), &error,
      context.timeout);
  auto reply = decodeReply(
      "dravel/capture", "captureScreen",
      id ? awaitCapture(context, *client, *id, start + context.timeout, &error) : std::nullopt,
      error, exitCode);
  if (!reply) return exitCode;
  auto width = reply->intAt("width");
  auto height = reply->intAt("height");
  auto bytes = reply->bytesAt("bytes");
  if (!width || !height || !bytes || *width <= 0 || *height <= 0 || *width > UINT32_MAX ||
      *height > UINT32_MAX ||
      static_cast<uint64_t>(*width) * static_cast<uint64_t>(*height) * 4 != (*bytes)->size()) {
    std::fprintf(stderr,
                 "dravelctl: the capture reply has no consistent width, height and bytes\n");
    return kExitErrorReply;
  }
  // Encoded from the reply's bytes where they lie in the received frame:
  // each encoding thread converts its own rows.
  PngSource source;
  source.pixels = (*bytes)->data();
  source.width = static_cast<uint32_t>(*width);
  source.height = static_cast<uint32_t>(*height);
  source.bytesPerRow = static_cast<size_t>(*width) * 4;
  source.layout = PngSourceLayout::kPremultipliedBgra;
  bool writeFailed = false;
  const bool encoded = encodePngTo(
      source, encoding,
      [&](std::span<const uint8_t> chunk) {
        writeFailed = !file->write(chunk);
        return !writeFailed;
      },
      &why);
  if (!encoded || !file->commit()) {
    const bool fileFault = writeFailed || encoded;
    std::fprintf(stderr, "dravelctl: %s\n", fileFault ? file->error().c_str() : why.c_str());
    return fileFault ? kExitUsage : kExitErrorReply;
  }
  std::printf("%s: %ux%u\n", output.c_str(), source.width, source.height);
  return 0;
}

// The timeout covers connecting; the host's calls may come at any time.
int commandWatch(const Context& context) {
  int exitCode = 0;
  auto client = connectOrSay(context, exitCode);
  if (!client) return exitCode;
  for (;;) {
    std::string error;
    auto frame = client->readFrame(&error);
    if (!frame) {
      if (!error.empty()) {
        std::fprintf(stderr, "dravelctl: %s\n", error.c_str());
        return kExitConnection;
      }
      return 0;  // the host went away
    }
    if (frame->kind != FrameKind::kCall) continue;
    ValueMap line;
    line.set("channel", Value(frame->channel));
    auto call = StandardMethodCodec::decodeMethodCall(frame->payload);
    if (auto* decoded = std::get_if<FlutterMethodCall>(&call)) {
      line.set("method", Value(decoded->method));
      line.set("arguments", decoded->arguments);
    } else {
      line.set("undecodable", Value(std::get<DecodeError>(call).what));
    }
    std::printf("%s\n", sim::jsonFromValue(Value(std::move(line)), -1, renderBytes).c_str());
    std::fflush(stdout);
    // Watching is not handling: the host learns that nobody took the call.
    if (frame->requestId != 0 &&
        !client->sendFrame(FrameKind::kReply, frame->requestId, "", Message(), &error)) {
      std::fprintf(stderr, "dravelctl: %s\n", error.c_str());
      return kExitConnection;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Context context;
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  for (; i < args.size(); ++i) {
    if (args[i] == "--socket" && i + 1 < args.size() && !args[i + 1].empty()) {
      context.socket = args[++i];
    } else if (args[i] == "--socket") {
      std::fprintf(stderr, "dravelctl: --socket needs a path\n");
      return usage();
    } else if (args[i] == "--timeout" && i + 1 < args.size()) {
      const std::string& text = args[++i];
      char* end = nullptr;
      errno = 0;
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || !end || *end != '\0' || errno == ERANGE || !std::isfinite(seconds) ||
          !(seconds > 0) || seconds > kMaxTimeoutSeconds) {
        std::fprintf(stderr,
                     "dravelctl: bad timeout \"%s\": a number of seconds above 0, at most %g\n",
                     text.c_str(), kMaxTimeoutSeconds);
        return usage();
      }
      context.timeout = seconds;
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      break;
    }
  }
  if (i >= args.size()) return usage();
  if (context.socket.empty()) {
    // The host's default socket, or a sandboxed host's where Flatpak shares
    // its folder with this session.
    FoundSocket found = findHostSocket(sandboxSocketPath(linux_platform::kApplicationId));
    if (!found.note.empty()) std::fprintf(stderr, "dravelctl: %s\n", found.note.c_str());
    context.socket = std::move(found.path);
    context.foundSocket = true;
  }
  const std::string command = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (command == "call") return commandCall(context, rest);
  if (command == "screenshot") return commandScreenshot(context, rest);
  if (command == "watch" && rest.empty()) return commandWatch(context);
  return usage();
}
