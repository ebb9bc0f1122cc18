// "copyPng" on a Wayland desktop whose compositor offers data control (sway,
// KWin), read back by wl-paste: with none of the host's surfaces focused,
// and with the overlay focused.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/shared/image_codec.h"
#include "tests/support/host_fixture.h"
#include "tests/support/host_process.h"
#include "tests/support/png_maker.h"
#include "tests/support/x_desktop.h"

namespace dravel::testing {

class WaylandClipboard : public HostProcessTest {
 protected:
  static ByteBuffer paste(const std::string& type) {
    const std::string out = commandOutput({"wl-paste", "--no-newline", "-t", type});
    return ByteBuffer(out.begin(), out.end());
  }

  void copiesComeBackThroughWlPaste() {
    platform_ = "wayland";
    start();
    ASSERT_FALSE(HasFatalFailure());
    // A noise image whose PNG (about 4 MB) is far more than a pipe holds, so
    // that a reader gets it in many writes.
    const DecodedImage image = noiseImage(1200, 900, 11, true);
    const ByteBuffer png = *encodePng(image);
    for (const bool overlay : {false, true}) {
      SCOPED_TRACE(overlay ? "the overlay focused" : "nothing of the host's focused");
      if (overlay) {
        ASSERT_TRUE(isSuccess(call("dravel/capture", "enterOverlay"), Value()));
      }
      ASSERT_TRUE(
          isSuccess(call("dravel/capture", "copyPng", ValueMap{{"png", Value(png)}}), Value()))
          << hostLog();
      const std::string types = commandOutput({"wl-paste", "--list-types"});
      EXPECT_EQ(types, "image/png\nimage/tiff\n");
      EXPECT_TRUE(paste("image/png") == png) << "the bytes differ";
      const std::optional<DecodedImage> tiff = decodeTiff(paste("image/tiff"));
      ASSERT_TRUE(tiff);
      EXPECT_TRUE(tiff->width == image.width && tiff->rgba == image.rgba) << "the TIFF differs";
      if (overlay) {
        ASSERT_TRUE(isSuccess(call("dravel/capture", "exitOverlay"), Value()));
      }
    }
    // Another program's copy replaces the host's.
    ASSERT_EQ(waitFor(spawn({"wl-copy", "other text"}, "/dev/null", "/dev/null"), 20), 0);
    EXPECT_EQ(commandOutput({"wl-paste", "--no-newline"}), "other text");
  }
};

}  // namespace dravel::testing
