// The diagonal cursors as the X server shows them: the host's drawn arrows
// are set through the mouse-cursor channel and read back with XFixes.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <tuple>

#include "channels/glib_main_queue.h"
#include "channels/in_process_messenger.h"
#include "channels/method_channel.h"
#include "host/mouse_cursors.h"
#include "platform/linux/linux_object_runtime.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using dravel::testing::commandOutput;
using dravel::testing::requireTestDesktop;
using dravel::testing::serveMainContextUntil;
using dravel::testing::ServerCursor;
using dravel::testing::serverCursor;

// The cursor's size and hot spot.
std::tuple<int, int, int, int> shape(const ServerCursor& c) {
  return {c.width, c.height, c.xhot, c.yhot};
}

class Cursors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    // Before the toolkit starts: its window scale.
    if (scale_ != 1) ::setenv("GDK_SCALE", std::to_string(scale_).c_str(), 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    setMainQueue(&queue_);
    std::tie(hostEnd_, uiEnd_) = InProcessMessenger::makePair();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 300, 300);
    gtk_window_move(GTK_WINDOW(window_), 400, 400);
    gtk_widget_show(window_);
    runtime_ = std::make_unique<GtkCursorRuntime>(
        *hostEnd_, [this] { return gtk_widget_get_window(window_); });
    // The host's own lookup on top of the embedding's, as it installs it.
    auto previous =
        runtime_->classMethodImplementation(kMouseCursorPluginClass, kCursorFromKindSelector);
    ASSERT_TRUE(previous);
    ASSERT_TRUE(runtime_->setClassMethodImplementation(
        kMouseCursorPluginClass, kCursorFromKindSelector,
        [previous = *previous](const std::string& cls, const std::string& selector,
                               const std::string& kind) {
          if (auto cursor = MouseCursors::diagonal(kind)) return cursor;
          return previous(cls, selector, kind);
        }));
    // The pointer over the window, once it is on screen.
    serveMainContextUntil([&] { return gtk_widget_get_mapped(window_); });
    ASSERT_EQ(gdk_window_get_scale_factor(gtk_widget_get_window(window_)), scale_);
    commandOutput(
        {"xdotool", "mousemove", std::to_string(550 * scale_), std::to_string(550 * scale_)});
  }
  void TearDown() override {
    runtime_.reset();
    if (window_) gtk_widget_destroy(window_);
    setMainQueue(nullptr);
  }

  // Sends "activateSystemCursor" from the interface's end; whether it was
  // answered with success.
  bool activate(const std::string& kind) {
    std::optional<MethodResponse> reply;
    FlutterMethodChannel(kMouseCursorChannel, uiEnd_.get())
        .invokeMethod("activateSystemCursor",
                      ValueMap{{"device", Value(int64_t{1})}, {"kind", Value(kind)}},
                      [&](MethodResponse r) { reply = std::move(r); });
    serveMainContextUntil([&] { return reply.has_value(); });
    return reply && std::holds_alternative<Value>(*reply);
  }

  // The server's cursor once it has changed from `before`.
  ServerCursor cursorAfter(unsigned long before) {
    ServerCursor now;
    serveMainContextUntil([&] {
      now = serverCursor();
      return now.serial != before;
    });
    return now;
  }

  int scale_ = 1;
  GLibMainQueue queue_;
  std::shared_ptr<InProcessMessenger> hostEnd_;
  std::shared_ptr<InProcessMessenger> uiEnd_;
  GtkWidget* window_ = nullptr;
  std::unique_ptr<GtkCursorRuntime> runtime_;
};

TEST_F(Cursors, DiagonalKindsAreTheDrawnArrowsOthersTheThemesNamedCursors) {
  const unsigned long start = serverCursor().serial;
  ASSERT_TRUE(activate("resizeUpLeftDownRight"));
  const ServerCursor arrow = cursorAfter(start);
  EXPECT_EQ(shape(arrow), std::make_tuple(24, 24, 12, 12));
  EXPECT_EQ(arrow.centre >> 24, 0xFFu) << "the arrow's middle is opaque";

  ASSERT_TRUE(activate("resizeUpRightDownLeft"));
  const ServerCursor other = cursorAfter(arrow.serial);
  EXPECT_EQ(shape(other), std::make_tuple(24, 24, 12, 12));

  // Any other kind is the theme's cursor of that name, not a drawn arrow.
  ASSERT_TRUE(activate("text"));
  const ServerCursor text = cursorAfter(other.serial);
  EXPECT_NE(text.serial, other.serial);
  EXPECT_NE(shape(text), std::make_tuple(24, 24, 12, 12));

  // Each is made once: activated again, the very same server cursor.
  ASSERT_TRUE(activate("resizeUpLeftDownRight"));
  EXPECT_EQ(cursorAfter(text.serial).serial, arrow.serial);
  ASSERT_TRUE(activate("text"));
  EXPECT_EQ(cursorAfter(arrow.serial).serial, text.serial);
}

class CursorsAtScaleTwo : public Cursors {
 protected:
  CursorsAtScaleTwo() { scale_ = 2; }
};

TEST_F(CursorsAtScaleTwo, TheArrowIsDrawnAtTheWindowsScale) {
  const unsigned long before = serverCursor().serial;
  ASSERT_TRUE(activate("resizeUpLeftDownRight"));
  const ServerCursor arrow = cursorAfter(before);
  EXPECT_EQ(shape(arrow), std::make_tuple(48, 48, 24, 24));
  EXPECT_EQ(arrow.centre >> 24, 0xFFu);
}

}  // namespace
}  // namespace dravel::linux_platform
