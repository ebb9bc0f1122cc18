// What the KWin route makes of KWin's answers: the result map, the bytes of
// the pipe, and the output it asks for. Real KWin's support information is
// read by tests/wayland (KWinHost).
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "platform/linux/wayland/capture/kwin_screenshot_route.h"
#include "tests/platform/scoped_env.h"
#include "tests/support/fake_bus_service.h"

namespace dravel::linux_platform {
namespace {

GVariant* parsed(const char* text) {
  GError* error = nullptr;
  GVariant* v = g_variant_parse(G_VARIANT_TYPE_VARDICT, text, nullptr, nullptr, &error);
  EXPECT_NE(v, nullptr) << text << ": " << (error ? error->message : "");
  g_clear_error(&error);
  return v;
}

// An answer of the given sizes, each a uint32 (a field given as -1 is left
// out), and type.
std::string answer(int64_t width, int64_t height, int64_t stride, int64_t format,
                   const std::string& type = "'raw'") {
  std::string text = "{";
  for (auto [key, value] : {std::pair{"width", width}, std::pair{"height", height},
                            std::pair{"stride", stride}, std::pair{"format", format}}) {
    if (value >= 0) text += "'" + std::string(key) + "': <uint32 " + std::to_string(value) + ">, ";
  }
  return text + "'type': <" + type + ">}";
}

TEST(KWinScreenShot, MalformedAnswersAreRefusedSayingWhy) {
  struct Case {
    std::string answer;
    const char* error;  // a part of the message
  };
  const Case cases[] = {
      {answer(4, 4, 16, 5, "'png'"), "not raw"},
      {answer(-1, 4, 16, 5), "no width"},
      {answer(0, 4, 16, 5), "empty image"},
      {answer(4, 4, 15, 5), "shorter than 4 pixels"},
      // width x 4 overflows 32 bits: the stride looks long enough.
      {answer(1073741825, 1, 4, 5), "larger than the host accepts"},
      // The pixels fit; the padded rows do not.
      {answer(1024, 65536, 4294967295, 5), "rows of 4294967295 bytes is larger"},
  };
  for (const Case& c : cases) {
    GVariant* given = parsed(c.answer.c_str());
    std::string error;
    EXPECT_FALSE(parseKWinAnswer(given, &error)) << c.answer;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.answer << " -> " << error;
    if (given) g_variant_unref(given);
  }
  // A reply whose first value is no dictionary (the call names no reply type).
  std::string error;
  GVariant* number = g_variant_ref_sink(g_variant_new_uint32(4));
  EXPECT_FALSE(parseKWinAnswer(number, &error));
  g_variant_unref(number);
}

TEST(KWinScreenShot, PixelFormatsBecomeTheHostsLayouts) {
  // Two pixels in rows of 12 bytes (4 of padding), two rows.
  const std::vector<uint8_t> given = {10, 20, 30, 40, 200, 100, 50, 255, 9, 9, 9, 9,
                                      0,  0,  0,  0,  1,   2,   3,  128, 9, 9, 9, 9};
  struct Case {
    uint32_t format;
    PixelFormat expected;
    std::vector<uint8_t> pixels;
  };
  const Case cases[] = {
      {4, PixelFormat::kBGRX, given},
      // Straight alpha premultiplied, rounded; opaque pixels unchanged.
      {5, PixelFormat::kBGRAPremultiplied, {2, 3, 5, 40, 200, 100, 50, 255, 9, 9, 9, 9,
                                            0, 0, 0, 0,  1,   1,   2,  128, 9, 9, 9, 9}},
      {18, PixelFormat::kBGRAPremultiplied, {30, 20, 10, 40, 50, 100, 200, 255, 9, 9, 9, 9,
                                             0,  0,  0,  0,  3,  2,   1,   128, 9, 9, 9, 9}},
  };
  for (const Case& c : cases) {
    std::string error;
    CapturedImagePtr image = kwinImage({2, 2, 12, c.format}, given, &error);
    ASSERT_TRUE(image) << c.format << ": " << error;
    EXPECT_EQ(image->format, c.expected) << c.format;
    EXPECT_EQ(image->pixels, c.pixels) << c.format;
    EXPECT_TRUE(image->isWellFormed()) << c.format;
  }
  std::string error;
  EXPECT_FALSE(kwinImage({2, 2, 12, 13}, given, &error));  // 16-bit: none of the host's
}

// A stand-in for KWin on a private bus, serving the support information and
// ScreenShot2 on a thread of its own: each capture is answered as the case
// says, its pixels written to the caller's pipe before or after the reply.
class FakeKWin {
 public:
  struct Behaviour {
    const char* results = nullptr;  // the answer's map
    size_t bytes = 0;               // how many bytes of pixels go down the pipe
    bool writeAfterReply = false;
    bool keepPipeOpen = false;
  };

  explicit FakeKWin(Behaviour behaviour) : behaviour_(behaviour) {
    char dir[] = "/tmp/dravel-fake-kwin-XXXXXX";
    if (!::mkdtemp(dir)) return;
    dir_ = dir;
    bus_ = std::make_unique<dravel::testing::PrivateBus>(dir_);
    if (bus_->address().empty()) return;
    // The fake's connection and the route's.
    env_.emplace("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str());
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::promise<bool> ready;
    std::future<bool> serving = ready.get_future();
    thread_ = std::thread([this, &ready] { serve(ready); });
    serving_ = serving.get();
  }

  ~FakeKWin() {
    if (thread_.joinable()) {
      g_main_context_invoke(context_, G_SOURCE_FUNC(+[](gpointer loop) -> gboolean {
                              g_main_loop_quit(static_cast<GMainLoop*>(loop));
                              return G_SOURCE_REMOVE;
                            }),
                            loop_);
      thread_.join();
    }
    for (int fd : heldPipes_) ::close(fd);
    if (loop_) g_main_loop_unref(loop_);
    if (context_) g_main_context_unref(context_);
    env_.reset();
    bus_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  bool serving() const { return serving_; }
  // The screen names KWin was asked to capture, in order.
  std::vector<std::string> asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  void serve(std::promise<bool>& ready) {
    g_main_context_push_thread_default(context_);
    {
      static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {}};
      dravel::testing::OwnedBusObject kwin;
      const bool owned =
          kwin.start("org.kde.KWin", "/org/kde/KWin/ScreenShot2", kScreenShot2, &vtable, this) &&
          kwin.serveAlso("/KWin", kSupport, &vtable, this);
      ready.set_value(owned);
      if (owned) g_main_loop_run(loop_);
    }
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
  }

  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakeKWin*>(data);
    if (std::strcmp(method, "supportInformation") == 0) {
      g_dbus_method_invocation_return_value(
          invocation, g_variant_new("(s)",
                                    "Screens\n=======\nScreen 0:\n---------\nName: Fake-0\n"
                                    "Enabled: 1\nGeometry: 0,0,2x2\n\n"));
      return;
    }
    const gchar* asked = nullptr;
    g_variant_get_child(parameters, 0, "&s", &asked);
    GUnixFDList* fds =
        g_dbus_message_get_unix_fd_list(g_dbus_method_invocation_get_message(invocation));
    const int fd = fds ? g_unix_fd_list_get(fds, 0, nullptr) : -1;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->asked_.push_back(asked);
    }
    const Behaviour& b = self->behaviour_;
    const std::vector<uint8_t> pixels(b.bytes, 0x80);
    auto writePixels = [&] {
      if (fd < 0) return;
      size_t done = 0;
      while (done < pixels.size()) {
        const ssize_t n = ::write(fd, pixels.data() + done, pixels.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (b.keepPipeOpen) {
        self->heldPipes_.push_back(fd);
      } else {
        ::close(fd);
      }
    };
    if (!b.writeAfterReply) writePixels();
    GVariant* results =
        g_variant_parse(G_VARIANT_TYPE_VARDICT, b.results, nullptr, nullptr, nullptr);
    g_dbus_method_invocation_return_value(invocation, g_variant_new_tuple(&results, 1));
    g_variant_unref(results);
    if (b.writeAfterReply) {
      g_usleep(100 * 1000);  // the reply is on its way first
      writePixels();
    }
  }

  static constexpr char kSupport[] =
      "<node><interface name='org.kde.KWin'><method name='supportInformation'>"
      "<arg type='s' direction='out'/></method></interface></node>";
  static constexpr char kScreenShot2[] =
      "<node><interface name='org.kde.KWin.ScreenShot2'>"
      "<method name='CaptureScreen'><arg type='s' direction='in'/>"
      "<arg type='a{sv}' direction='in'/><arg type='h' direction='in'/>"
      "<arg type='a{sv}' direction='out'/></method></interface></node>";

  Behaviour behaviour_;
  std::string dir_;
  std::unique_ptr<dravel::testing::PrivateBus> bus_;
  std::optional<dravel::testing::ScopedEnv> env_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  bool serving_ = false;
  std::vector<std::string> asked_;
  std::vector<int> heldPipes_;  // on the fake's thread only
};

TEST(KWinScreenShot, ThePipeIsReadWhileTheCallIsPendingAndMustHoldTheAnnouncedBytes) {
  const std::string twoByTwo = answer(2, 2, 8, 6);
  const char* raw = twoByTwo.c_str();
  struct Case {
    const char* what;
    FakeKWin::Behaviour kwin;
    const char* error;  // empty: an image
  };
  const Case cases[] = {
      {"pixels first", {raw, 16}, ""},
      {"the reply first", {raw, 16, true}, ""},
      {"a byte short", {raw, 15}, "wrote 15 bytes"},
      {"a byte more", {raw, 17, true}, "wrote more than the 16"},
      {"the pipe never ends", {raw, 16, false, true}, "cancelled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeKWin kwin(c.kwin);
    ASSERT_TRUE(kwin.serving());
    std::string why;
    CaptureRoutePtr route = makeKWinScreenShotRoute(&why);
    ASSERT_TRUE(route) << why;
    RouteMonitor monitor;
    monitor.width = 2;
    monitor.height = 2;
    int polls = 0;
    // Cancelled some polls (of 50 ms) into the wait for a pipe that never ends.
    auto cancelled = [&] { return c.kwin.keepPipeOpen && ++polls > 20; };
    const RouteResult result = route->capture(monitor, {monitor}, false, cancelled);
    EXPECT_EQ(kwin.asked(), std::vector<std::string>{"Fake-0"});
    if (*c.error == '\0') {
      ASSERT_TRUE(result.image) << result.error;
      EXPECT_EQ(result.image->pixels, std::vector<uint8_t>(16, 0x80));
    } else {
      EXPECT_FALSE(result.image);
      EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    }
  }
}

}  // namespace
}  // namespace dravel::linux_platform
