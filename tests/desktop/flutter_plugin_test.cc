// The host as a plugin of a Flutter Linux application, in this process. The
// engine is a stand-in behaving as the embedding does: the last handler set
// on a channel wins and the one replaced is let go (its destroy
// notification); a second answer fails; a message let go unanswered, and a
// reply the plugin does not release, fail the test; a channel without a
// handler answers empty. A GTK window plays the view's toplevel; the calls
// the socket tests make pass through, checked against the X tools and the
// notification service.
#include <flutter_linux/flutter_linux.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "channels/standard_codec.h"
#include "dravel_host/dravel_host_plugin.h"
#include "tests/support/host_process.h"
#include "tests/support/png_maker.h"
#include "tests/support/x_desktop.h"

namespace {

using WireBytes = std::vector<uint8_t>;
struct Handler {
  FlBinaryMessengerMessageHandler call;
  gpointer data;
  GDestroyNotify destroy;
};
// A response handle's state; the handle is a GObject holding it.
struct Pending {
  std::function<void(WireBytes)> reply;
  bool answered = false;
};
std::map<std::string, Handler> handlers;
std::map<std::string, std::function<WireBytes(WireBytes)>> interfaceSide;
int misuses = 0, repliesHeld = 0;
bool engineGone = false;

WireBytes bytesOf(GBytes* bytes) {
  gsize size = 0;
  auto* data = bytes ? static_cast<const uint8_t*>(g_bytes_get_data(bytes, &size)) : nullptr;
  return WireBytes(data, data + size);
}

}  // namespace

void fl_binary_messenger_set_message_handler_on_channel(FlBinaryMessenger*, const gchar* channel,
                                                        FlBinaryMessengerMessageHandler call,
                                                        gpointer data, GDestroyNotify destroy) {
  auto old = handlers.extract(channel);
  if (call && !engineGone) handlers[channel] = {call, data, destroy};
  if (old && old.mapped().destroy) old.mapped().destroy(old.mapped().data);
  if (call && engineGone && destroy) destroy(data);
}
gboolean fl_binary_messenger_send_response(FlBinaryMessenger*, FlBinaryMessengerResponseHandle* h,
                                           GBytes* response, GError** error) {
  auto* pending = static_cast<Pending*>(g_object_get_data(G_OBJECT(h), "pending"));
  if (std::exchange(pending->answered, true)) {
    g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_FAILED, "already responded to");
    return ++misuses, FALSE;
  }
  pending->reply(bytesOf(response));
  return TRUE;
}
void fl_binary_messenger_send_on_channel(FlBinaryMessenger* messenger, const gchar* channel,
                                         GBytes* message, GCancellable* cancellable,
                                         GAsyncReadyCallback callback, gpointer data) {
  auto it = interfaceSide.find(channel);
  auto* reply =
      new WireBytes(it == interfaceSide.end() ? WireBytes() : it->second(bytesOf(message)));
  auto release = [](gpointer r) { delete static_cast<WireBytes*>(r), --repliesHeld; };
  GTask* task = g_task_new(messenger, cancellable, callback, data);
  g_task_return_pointer(task,
                        g_bytes_new_with_free_func(reply->data(), reply->size(), release, reply),
                        GDestroyNotify(g_bytes_unref));
  ++repliesHeld, g_object_unref(task);
}
GBytes* fl_binary_messenger_send_on_channel_finish(FlBinaryMessenger*, GAsyncResult* result,
                                                   GError** error) {
  return static_cast<GBytes*>(g_task_propagate_pointer(G_TASK(result), error));
}
FlBinaryMessenger* fl_plugin_registrar_get_messenger(FlPluginRegistrar* r) {
  return r->messenger;
}
FlView* fl_plugin_registrar_get_view(FlPluginRegistrar* r) {
  return r->view;
}

namespace dravel::testing {
namespace {

class FlutterPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    gtk_window_set_title(GTK_WINDOW(window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL)), "the view");
    GtkWidget* view = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window_), view);
    gtk_widget_realize(view);
    FlPluginRegistrar registrar{messenger_, reinterpret_cast<FlView*>(view)};
    dravel_host_plugin_register_with_registrar(&registrar);
  }
  void TearDown() override {
    // The engine goes: the handlers are let go, and the host with them.
    engineGone = true;
    for (auto& [channel, handler] : std::exchange(handlers, {})) handler.destroy(handler.data);
    EXPECT_EQ(misuses, 0) << "messages answered twice or not at all";
    EXPECT_EQ(repliesHeld, 0) << "replies the plugin did not release";
    if (window_) gtk_widget_destroy(window_);
    g_object_unref(messenger_);
  }

  // A call from the interface, answered empty where no handler is set.
  MethodResponse call(const char* channel, const char* method, Value arguments) {
    std::optional<WireBytes> reply;
    auto it = handlers.find(channel);
    if (it == handlers.end()) return decodeReply(WireBytes());
    GObject* handle = G_OBJECT(g_object_new(G_TYPE_OBJECT, nullptr));
    auto* pending = new Pending{[&](WireBytes bytes) { reply = std::move(bytes); }};
    g_object_set_data_full(handle, "pending", pending, [](gpointer p) {
      misuses += !static_cast<Pending*>(p)->answered && !engineGone;
      delete static_cast<Pending*>(p);
    });
    const WireBytes message = StandardMethodCodec::encodeMethodCall({method, arguments}).flatten();
    GBytes* bytes = g_bytes_new(message.data(), message.size());
    it->second.call(messenger_, channel, bytes,
                    reinterpret_cast<FlBinaryMessengerResponseHandle*>(handle), it->second.data);
    g_bytes_unref(bytes), g_object_unref(handle);
    EXPECT_TRUE(serveMainContextUntil([&] { return reply.has_value(); })) << "no answer";
    return decodeReply(reply.value_or(WireBytes()));
  }

  FlBinaryMessenger* messenger_ =
      static_cast<FlBinaryMessenger*>(g_object_new(G_TYPE_OBJECT, nullptr));
  GtkWidget* window_ = nullptr;
};

TEST_F(FlutterPlugin, TheSocketHostsCallsPassThroughTheEmbeddingsMessengerAndWindow) {
  const std::string dir = ::testing::TempDir() + "flutter-plugin-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  StoppedAtExit dunst{startDunst(dir)};
  std::optional<FlutterMethodCall> clicked;
  interfaceSide["dravel/notifications"] = [&](WireBytes message) {
    auto call = StandardMethodCodec::decodeMethodCall(message);
    if (auto* c = std::get_if<FlutterMethodCall>(&call)) clicked = *c;
    return StandardMethodCodec::encodeSuccessEnvelope(Value()).flatten();
  };
  const std::vector<std::string> findView = {"xdotool", "search", "--onlyvisible", "--name",
                                             "^the view$"};
  // The cursor channel stays the embedding's; the window is hidden at start.
  EXPECT_EQ(handlers.count("flutter/mousecursor"), 0u);
  EXPECT_FALSE(runCommand(findView));
  const ListedMonitor screen = listedPrimaryMonitor();
  const ByteBuffer png = uniformPng(40, 30, 99);
  using Check = std::function<void(const MethodResponse&)>;
  const std::tuple<const char*, const char*, Value, Check> rows[] = {
      {"dravel/capture", "captureScreen", Value(),
       [&](const MethodResponse& r) {
         const Value* v = std::get_if<Value>(&r);
         EXPECT_EQ(std::vector({v ? v->intAt("width") : 0, v ? v->intAt("height") : 0}),
                   std::vector<std::optional<int64_t>>({screen.width, screen.height}));
       }},
      {"dravel/capture", "copyPng", ValueMap{{"png", Value(png)}},
       [&](const MethodResponse& r) {
         std::string read;
         runWhileServing({"xclip", "-selection", "clipboard", "-t", "image/png", "-o"}, &read);
         EXPECT_TRUE(std::holds_alternative<Value>(r) &&
                     ByteBuffer(read.begin(), read.end()) == png);
       }},
      {"dravel/notifications", "show", ValueMap{{"title", "Exported"}, {"id", "export"}},
       [&](const MethodResponse& r) {
         EXPECT_TRUE(std::holds_alternative<Value>(r) && serveMainContextUntil([&] {
                       return runCommand({"dunstctl", "action", "0"}) && clicked;
                     }));
         EXPECT_EQ(clicked ? clicked->method : "", "clicked");
       }},
      {"dravel/capture", "noSuchMethod", Value(),
       [](const MethodResponse& r) {
         EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(r));
       }},
      {"dravel/capture", "raiseWindow", Value(),
       [&](const MethodResponse&) {
         EXPECT_TRUE(serveMainContextUntil([&] { return runCommand(findView); }));
       }},
  };
  for (const auto& [channel, method, arguments, check] : rows) {
    SCOPED_TRACE(method);
    check(call(channel, method, arguments));
  }
}

}  // namespace
}  // namespace dravel::testing
