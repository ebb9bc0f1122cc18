// The desktop clipboard as other programs see it: xclip reads what the host
// offers and takes the clipboard over.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/image_codec.h"
#include "platform/linux/linux_pasteboard.h"
#include "tests/support/host_process.h"
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

  // Runs a program while the main loop serves the clipboard; what it wrote.
  std::string serveWhile(const std::vector<std::string>& argv, const std::string& input = "") {
    std::vector<std::string> command = argv;
    if (!input.empty()) {
      std::ofstream(dir_ + "/in") << input;
      command = {"sh", "-c", "exec \"$0\" \"$@\" < " + dir_ + "/in"};
      command.insert(command.end(), argv.begin(), argv.end());
    }
    const pid_t pid = spawn(command, dir_ + "/out", dir_ + "/err");
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      g_usleep(2000);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readFile(dir_ + "/err");
    return readFile(dir_ + "/out");
  }

  std::string dir_;
};

ByteBuffer smallPng() {
  DecodedImage image;
  image.width = 3;
  image.height = 2;
  image.rgba.assign(3 * 2 * 4, 0);
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    image.rgba[i] = static_cast<uint8_t>(i * 10);
    image.rgba[i + 3] = 255;
  }
  return *encodePng(image);
}

TEST_F(Clipboard, ReadersGetThePngUnchangedAndTheTiffUntilAnotherProgramTakesOver) {
  GtkPasteboard pasteboard;
  const ByteBuffer png = smallPng();
  PasteboardItem item;
  item.setData(kPasteboardTypePNG, png);
  item.setData(kPasteboardTypeTIFF, ByteBuffer{'I', 'I', 42, 0});
  pasteboard.clearContents();
  ASSERT_TRUE(pasteboard.writeObjects({item}));
  EXPECT_EQ(pasteboard.items().size(), 1u);

  const std::string targets =
      serveWhile({"xclip", "-selection", "clipboard", "-t", "TARGETS", "-o"});
  EXPECT_NE(targets.find("image/png"), std::string::npos) << targets;
  EXPECT_NE(targets.find("image/tiff"), std::string::npos) << targets;
  const std::string read =
      serveWhile({"xclip", "-selection", "clipboard", "-t", "image/png", "-o"});
  EXPECT_EQ(ByteBuffer(read.begin(), read.end()), png);
  const std::string tiff =
      serveWhile({"xclip", "-selection", "clipboard", "-t", "image/tiff", "-o"});
  EXPECT_EQ(tiff, std::string("II*\0", 4));

  // Another program copies text: the host no longer owns the clipboard.
  serveWhile({"xclip", "-selection", "clipboard", "-i", "-loops", "1"}, "other text");
  for (int i = 0; i < 2000 && !pasteboard.items().empty(); ++i) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  EXPECT_TRUE(pasteboard.items().empty());
}

}  // namespace
}  // namespace dravel::linux_platform
