// The toolkit's clipboard on sway, without the compositor's data control:
// a copy made while none of the process's windows has the keyboard waits,
// and reaches the clipboard once a window is focused.
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "platform/linux/session/linux_pasteboard.h"
#include "platform/shared/image_codec.h"
#include "tests/support/host_process.h"
#include "tests/support/wayland_oracles.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

// The clipboard's PNG as wl-paste reads it, serving this process's toolkit
// meanwhile (it answers readers from its main loop); empty after 5 s.
std::string pasted() {
  std::string out;
  return runWhileServing({"wl-paste", "--no-newline", "-t", "image/png"}, &out, nullptr, 5) ? out
                                                                                            : "";
}

TEST(SwayPasteboard, ACopyWithoutFocusWaitsForAWindowOfTheHostToHaveIt) {
  ASSERT_EQ(waylandTestDesktop(), "sway");
  gdk_set_allowed_backends("wayland");
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  // A keyboard on the seat for the test's length (the headless seat has
  // none, and without one no window is ever focused).
  const pid_t keyboard = spawn({"wtype", "-s", "30000"}, "/dev/null", "/dev/null");
  GtkPasteboard pasteboard;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  DecodedImage image{2, 1, {1, 2, 3, 255, 4, 5, 6, 255}};
  const std::vector<uint8_t> png = *encodePng(image);
  PasteboardItem item;
  item.setData(kPasteboardTypePNG, png);
  ASSERT_TRUE(pasteboard.writeObjects({item}));
  // Held, and waiting.
  ASSERT_EQ(pasteboard.items().size(), 1u);
  for (int i = 0; i < 50; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(pasted(), "");

  gtk_window_present(GTK_WINDOW(window));
  const std::string expected(png.begin(), png.end());
  EXPECT_TRUE(waitUntil([&] { return pasted() == expected; }));
  gtk_widget_destroy(window);
  stopProcess(keyboard);
}

}  // namespace
}  // namespace dravel::linux_platform
