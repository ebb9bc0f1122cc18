// The Linux desktop's services that need no display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/linux/session/linux_graphics.h"
#include "platform/linux/session/linux_process_info.h"

namespace dravel::linux_platform {
namespace {

TEST(LinuxProcessInfo, TheSandboxKeyReadsAsTheFlatpakIdOnlyWhenItIsNotSetItself) {
  LinuxProcessInfo info;
  ::unsetenv(kSandboxContainerKey);
  ::unsetenv("FLATPAK_ID");
  EXPECT_FALSE(info.environmentValue(kSandboxContainerKey));
  ::setenv("FLATPAK_ID", "app.dravel.Dravel", 1);
  EXPECT_EQ(info.environmentValue(kSandboxContainerKey), "app.dravel.Dravel");
  ::setenv(kSandboxContainerKey, "", 1);
  EXPECT_EQ(info.environmentValue(kSandboxContainerKey), "") << "an empty value is present";
  ::unsetenv(kSandboxContainerKey);
  ::unsetenv("FLATPAK_ID");
  EXPECT_EQ(info.bundleIdentifier(), kApplicationId);

  // The sandbox's info file alone is enough.
  const std::string file = ::testing::TempDir() + "flatpak-info-" + std::to_string(::getpid());
  LinuxProcessInfo sandboxed(file);
  EXPECT_FALSE(sandboxed.environmentValue(kSandboxContainerKey)) << "no file, no sandbox";
  std::ofstream(file) << "[Instance]\nname=not-this\n[Application]\nname=app.dravel.Dravel\n";
  EXPECT_EQ(sandboxed.environmentValue(kSandboxContainerKey), "app.dravel.Dravel");
  std::ofstream(file) << "[Application]\nruntime=x\n";
  EXPECT_EQ(sandboxed.environmentValue(kSandboxContainerKey), "flatpak");
  std::remove(file.c_str());
}

TEST(LinuxGraphics, TheBitmapContextDrawsBgrxAsOpaque) {
  LinuxGraphics graphics;
  const uint32_t info = kBitmapByteOrder32Little | kImageAlphaPremultipliedFirst;
  auto context = graphics.createBitmapContext(2, 1, 8, 8, info);
  ASSERT_TRUE(context);
  CapturedImage image;
  image.width = 2;
  image.height = 1;
  image.bytesPerRow = 12;
  image.format = PixelFormat::kBGRX;
  // The fourth byte of each pixel is padding with any value.
  image.pixels = {1, 2, 3, 0x55, 4, 5, 6, 0, 9, 9, 9, 9};
  ByteBuffer out;
  context->drawImageInto(image, out);
  EXPECT_EQ(out, (ByteBuffer{1, 2, 3, 255, 4, 5, 6, 255}));
}

}  // namespace
}  // namespace dravel::linux_platform
