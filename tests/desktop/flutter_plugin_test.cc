// The host as a plugin of a Flutter Linux application, in this process: the
// embedding's stand-in plays the engine, a GTK window holding a box plays the
// view's toplevel, and the calls the socket tests make pass through the
// plugin's messenger, checked against the X tools and the notification
// service.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <filesystem>

#include "channels/standard_codec.h"
#include "dravel_host/dravel_host_plugin.h"
#include "tests/flutter_stand_in/fl_stand_in.h"
#include "tests/support/host_process.h"
#include "tests/support/png_maker.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {
namespace {

class FlutterPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    messenger_ = startStandInEngine();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    view_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_window_set_title(GTK_WINDOW(window_), "interface view");
    gtk_container_add(GTK_CONTAINER(window_), view_);
    gtk_widget_realize(view_);
    FlPluginRegistrar registrar{messenger_, view_};
    dravel_host_plugin_register_with_registrar(&registrar);
  }
  void TearDown() override {
    stopStandInEngine();
    EXPECT_EQ(standInErrors(), std::vector<std::string>{});
    standInErrors().clear();
    EXPECT_EQ(repliesHeld(), 0) << "replies the plugin did not release";
    if (window_) gtk_widget_destroy(window_);
    if (messenger_) g_object_unref(messenger_);
  }

  MethodResponse call(const char* channel, const char* method, Value arguments) {
    std::optional<WireBytes> reply;
    sendFromInterface(channel, StandardMethodCodec::encodeMethodCall({method, arguments}).flatten(),
                      [&](WireBytes bytes) { reply = std::move(bytes); });
    EXPECT_TRUE(serveMainContextUntil([&] { return reply.has_value(); })) << "no answer";
    return decodeReply(reply.value_or(WireBytes{}));
  }
  static bool shown(const char* title) {
    std::string out;
    runCommand({"xdotool", "search", "--onlyvisible", "--name", title}, &out);
    return !out.empty();
  }

  FlBinaryMessenger* messenger_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* view_ = nullptr;
};

TEST_F(FlutterPlugin, TheSocketHostsCallsPassThroughTheEmbeddingsMessengerAndWindow) {
  const std::string dir = ::testing::TempDir() + "flutter-plugin-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  StoppedAtExit dunst{startDunst(dir)};
  std::optional<FlutterMethodCall> clicked;
  setInterfaceHandler("dravel/notifications", [&](WireBytes message) {
    auto call = StandardMethodCodec::decodeMethodCall(message);
    if (auto* c = std::get_if<FlutterMethodCall>(&call)) clicked = *c;
    return StandardMethodCodec::encodeSuccessEnvelope(Value()).flatten();
  });
  // The cursor channel stays the embedding's; the window is hidden at start.
  EXPECT_FALSE(hasHandler("flutter/mousecursor"));
  EXPECT_FALSE(shown("^interface view$"));
  const ListedMonitor screen = listedPrimaryMonitor();
  const ByteBuffer png = uniformPng(40, 30, 99);
  struct Row {
    const char* channel;
    const char* method;
    Value arguments;
    std::function<void(const MethodResponse&)> check;
  };
  const Row rows[] = {
      {"dravel/capture", "captureScreen", Value(),
       [&](const MethodResponse& r) {
         const Value* v = std::get_if<Value>(&r);
         ASSERT_TRUE(v);
         EXPECT_EQ(std::vector({v->intAt("width"), v->intAt("height")}),
                   std::vector<std::optional<int64_t>>({screen.width, screen.height}));
       }},
      {"dravel/capture", "copyPng", ValueMap{{"png", Value(png)}},
       [&](const MethodResponse& r) {
         ASSERT_TRUE(std::holds_alternative<Value>(r));
         std::string read;
         runWhileServing({"xclip", "-selection", "clipboard", "-t", "image/png", "-o"}, &read);
         EXPECT_TRUE(ByteBuffer(read.begin(), read.end()) == png);
       }},
      {"dravel/notifications", "show", ValueMap{{"title", "Exported"}, {"id", "export"}},
       [&](const MethodResponse& r) {
         ASSERT_TRUE(std::holds_alternative<Value>(r));
         EXPECT_TRUE(serveMainContextUntil([&] {
           runCommand({"dunstctl", "action", "0"});
           return clicked.has_value();
         }));
         EXPECT_EQ(clicked ? clicked->method : "", "clicked");
       }},
      {"dravel/capture", "noSuchMethod", Value(),
       [](const MethodResponse& r) {
         EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedT>(r));
       }},
      {"dravel/capture", "raiseWindow", Value(),
       [&](const MethodResponse&) {
         EXPECT_TRUE(serveMainContextUntil([&] { return shown("^interface view$"); }));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.method);
    row.check(call(row.channel, row.method, row.arguments));
  }
}

}  // namespace
}  // namespace dravel::testing
