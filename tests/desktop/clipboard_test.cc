// The desktop clipboard as other programs see it: xclip and a reader of our
// own in a separate X client read what the host offers, and take the
// clipboard over.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/session/linux_pasteboard.h"
#include "platform/shared/image_codec.h"
#include "tests/support/bmp_maker.h"
#include "tests/support/clip_probe.h"
#include "tests/support/host_process.h"
#include "tests/support/png_maker.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;

class Clipboard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    dir_ = ::testing::TempDir() + "clipboard-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
};

// 2200 x 1800 pixels of noise, alpha included: its PNG cannot shrink below
// the 15.8 MB of its pixels, so every reader gets it through INCR.
DecodedImage noiseImage() {
  return dravel::testing::noiseImage(2200, 1800, 7, false);
}

ByteBuffer bytesOf(const std::string& text) {
  return ByteBuffer(text.begin(), text.end());
}

TEST_F(Clipboard,
       AnotherProgramTakingTheClipboardMidTransferLetsTheReaderFinishWithTheImageItAskedFor) {
  GtkPasteboard pasteboard;
  const ByteBuffer png = *encodePng(noiseImage());
  PasteboardItem item;
  item.setData(kPasteboardTypePNG, png);
  ASSERT_TRUE(pasteboard.writeObjects({item}));

  // A slow reader; after its fifth chunk xclip takes the clipboard.
  ClipboardReadOptions slow;
  slow.pauseBetweenChunks = 0.02;
  slow.patience = 5;
  pid_t xclip = -1;
  int chunksAtTakeOver = -1;
  int chunksWhenNoticed = -1;
  const ClipboardRead read = readClipboardInAnotherClient("image/png", slow, [&](int chunks) {
    g_main_context_iteration(nullptr, FALSE);
    if (xclip < 0 && chunks >= 5) {
      chunksAtTakeOver = chunks;
      std::ofstream(dir_ + "/text") << "other text";
      xclip = spawn({"sh", "-c", "exec xclip -selection clipboard -i < \"$0\"", dir_ + "/text"},
                    dir_ + "/xclip.out", dir_ + "/xclip.err");
    }
    if (xclip >= 0 && chunksWhenNoticed < 0 && pasteboard.items().empty()) {
      chunksWhenNoticed = chunks;
    }
  });
  ASSERT_GE(chunksAtTakeOver, 5) << read.error;
  // The host learnt of the take-over while the reader still had chunks to
  // come.
  ASSERT_GE(chunksWhenNoticed, chunksAtTakeOver);
  EXPECT_TRUE(read.incremental);
  EXPECT_LT(chunksWhenNoticed, read.chunks);
  // A transfer under way is served to its end from the copy GTK took when it
  // began: the reader gets the whole image, the one it asked for.
  EXPECT_TRUE(read.complete) << read.error;
  EXPECT_EQ(read.data.size(), png.size());
  EXPECT_TRUE(read.data == png) << "the bytes differ";

  // The host noticed; the clipboard is xclip's.
  EXPECT_TRUE(serveMainContextUntil([&] { return pasteboard.items().empty(); }, 10));
  EXPECT_EQ(waitFor(xclip, 10), 0) << readFile(dir_ + "/xclip.err");
  EXPECT_EQ(commandOutput({"xclip", "-selection", "clipboard", "-o"}), "other text");

  // And the host can take it back.
  ASSERT_TRUE(pasteboard.writeObjects({item}));
  std::string again;
  EXPECT_TRUE(
      runWhileServing({"xclip", "-selection", "clipboard", "-t", "image/png", "-o"}, &again));
  EXPECT_TRUE(bytesOf(again) == png);
}

// The copy path end to end: dravel-host on this desktop, asked over its
// socket, read back by xclip and by a separate client.
class HostClipboard : public HostProcessTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    HostProcessTest::SetUp();
    platform_ = "x11";
  }

  MethodResponse copy(const ByteBuffer& bytes) {
    return call("dravel/capture", "copyPng", ValueMap{{"png", Value(bytes)}});
  }
  ByteBuffer xclipRead(const std::string& type) {
    return bytesOf(commandOutput({"xclip", "-selection", "clipboard", "-t", type, "-o"}));
  }
};

TEST_F(HostClipboard, AFifteenMegabytePngComesBackByteIdenticalItsTiffReadableAndABmpAsPng) {
  start();
  const DecodedImage image = noiseImage();
  const ByteBuffer png = *encodePng(image);
  ASSERT_GT(png.size(), 15'000'000u);
  ASSERT_TRUE(std::holds_alternative<Value>(copy(png))) << hostLog();

  const std::string targets =
      commandOutput({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"});
  EXPECT_NE(targets.find("image/png"), std::string::npos) << targets;
  EXPECT_NE(targets.find("image/tiff"), std::string::npos) << targets;
  // A type that is not offered is refused, not answered with other data.
  EXPECT_FALSE(runCommand({"xclip", "-selection", "clipboard", "-t", "UTF8_STRING", "-o"}));
  const ByteBuffer read = xclipRead("image/png");
  EXPECT_TRUE(read == png) << read.size() << " bytes, not the " << png.size() << " copied";

  std::optional<DecodedImage> tiff = decodeTiff(xclipRead("image/tiff"));
  ASSERT_TRUE(tiff);
  EXPECT_TRUE(tiff->width == image.width && tiff->height == image.height &&
              tiff->rgba == image.rgba)
      << "the TIFF differs";

  // A BMP is decoded by the desktop's image library and offered as a PNG of
  // its pixels.
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
  ASSERT_TRUE(std::holds_alternative<Value>(copy(bmpFile(2, 2, rgb)))) << hostLog();
  std::optional<DecodedImage> pasted = decodePng(xclipRead("image/png"));
  ASSERT_TRUE(pasted);
  EXPECT_EQ(pasted->width, 2u);
  EXPECT_EQ(pasted->rgba,
            (ByteBuffer{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 10, 20, 30, 255}));
  EXPECT_EQ(decodeTiff(xclipRead("image/tiff"))->rgba, pasted->rgba);
}

}  // namespace
}  // namespace dravel::linux_platform
