// Showing files and opening addresses as the desktop does it: a file manager
// on the session bus, and the default handlers the desktop's settings name
// (a recording program installed for the test in private data folders).
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/linux/session/linux_workspace.h"
#include "platform/shared/url.h"
#include "tests/support/fake_bus_service.h"
#include "tests/support/host_process.h"
#include "tests/support/x_desktop.h"

namespace dravel::linux_platform {
namespace {

using namespace dravel::testing;
using Outcome = LinuxWorkspace::ShowOutcome;

class Workspace : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(requireTestDesktop());
    dir_ = ::testing::TempDir() + "workspace-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir_ + "/data/applications");
    std::filesystem::create_directories(dir_ + "/config");
    std::filesystem::create_directories(dir_ + "/Shots");
    record_ = dir_ + "/opened";
    // The handler records what it was asked to open.
    const std::string handler = dir_ + "/handler";
    std::ofstream(handler) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << record_ << "'\n";
    ::chmod(handler.c_str(), 0755);
    std::ofstream(dir_ + "/data/applications/dravel-test-opener.desktop")
        << "[Desktop Entry]\nType=Application\nName=Test Opener\nExec=" << handler
        << " %u\nMimeType=inode/directory;x-scheme-handler/https;\n";
    std::ofstream(dir_ + "/config/mimeapps.list")
        << "[Default Applications]\ninode/directory=dravel-test-opener.desktop\n"
           "x-scheme-handler/https=dravel-test-opener.desktop\n";
    // Read by GIO on first use, which is in this test's own process.
    ::setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (dir_ + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // The lines the handler recorded, once there are `count` of them.
  std::vector<std::string> opened(size_t count) {
    std::vector<std::string> lines;
    waitUntil([&] {
      lines.clear();
      std::istringstream in(readFile(record_));
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      return lines.size() >= count;
    });
    return lines;
  }

  std::string dir_;
  std::string record_;
};

// The file manager shows the files (its call's arguments are checked
// through the host by host_x11_test), and nothing else opens; without one,
// or when it fails or hangs, the folder opens.
TEST_F(Workspace, WithoutAFileManagerOrWhenItFailsOrHangsTheFolderOpens) {
  const std::string shot = fileURLWithPath(dir_ + "/Shots/shot one.png");
  const std::string folder = dir_ + "/Shots";
  using Answer = std::optional<FakeBusService::Answer>;
  for (const auto& [answer, outcome] : std::vector<std::pair<Answer, Outcome>>{
           {FakeBusService::Answer::kSucceed, Outcome::kShownByFileManager},
           {std::nullopt, Outcome::kFolderOpened},
           {FakeBusService::Answer::kFail, Outcome::kFolderOpened},
           {FakeBusService::Answer::kNever, Outcome::kFolderOpened}}) {
    FakeBusService files;
    ASSERT_TRUE(!answer || files.startFileManager(*answer));
    LinuxWorkspace workspace(nullptr, 300);
    workspace.activateFileViewerSelectingURLs({shot});
    // The call returns before any answer: the request is still on its way.
    EXPECT_TRUE(workspace.showOutcomes().empty());
    ASSERT_TRUE(serveMainContextUntil([&] { return !workspace.showOutcomes().empty(); }));
    EXPECT_EQ(workspace.showOutcomes(), std::vector<Outcome>{outcome});
    if (answer) {
      EXPECT_EQ(files.calls().size(), 1u);
    }
  }
  const std::vector<std::string> lines = opened(3);
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) {
    // A path or a file address, depending on how the handler takes it.
    EXPECT_TRUE(line == folder || line == fileURLWithPath(folder)) << line;
  }
}

TEST_F(Workspace, AddressesOpenWithTheDefaultHandlerAndFalseWithoutOne) {
  LinuxWorkspace workspace(nullptr);
  EXPECT_TRUE(workspace.openURL("https://example.org/a?b=c"));
  EXPECT_EQ(opened(1), std::vector<std::string>{"https://example.org/a?b=c"});
  EXPECT_FALSE(workspace.openURL("x-unknown-scheme:anything"));
  EXPECT_FALSE(workspace.openURL("not an address"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(opened(1).size(), 1u);
}

}  // namespace
}  // namespace dravel::linux_platform
