#include "app/screenshot_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace dravel {
namespace {

namespace fs = std::filesystem;

class ScreenshotFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dravel-shot-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The names in the folder, temporary files included.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_)) found.push_back(entry.path().filename());
    std::sort(found.begin(), found.end());
    return found;
  }
  static bool write(ScreenshotFile& file, const std::string& text) {
    return file.write({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  }

  fs::path dir_;
};

TEST_F(ScreenshotFileTest, TheFileAppearsWholeOnlyWhenCommitted) {
  const fs::path target = dir_ / "shot.png";
  std::ofstream(target) << "old";
  ::chmod(target.c_str(), 0640);
  {
    auto file = ScreenshotFile::open(target, nullptr);
    ASSERT_TRUE(file);
    ASSERT_TRUE(write(*file, "new picture"));
    EXPECT_EQ(contents(target), "old") << "written in place before it was complete";
    EXPECT_EQ(names().size(), 2u);
    ASSERT_TRUE(file->commit()) << file->error();
  }
  EXPECT_EQ(contents(target), "new picture");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  {
    // Abandoned (a failed encoding): nothing changes, nothing stays behind.
    auto file = ScreenshotFile::open(target, nullptr);
    ASSERT_TRUE(write(*file, "half"));
  }
  EXPECT_EQ(contents(target), "new picture");
  EXPECT_EQ(names(), std::vector<std::string>{"shot.png"});
}

TEST_F(ScreenshotFileTest, BadTargetsAreRefusedWithTheirReason) {
  std::ofstream(dir_ / "plain") << "x";
  fs::create_symlink(dir_ / "nowhere" / "x.png", dir_ / "dangling");
  const struct {
    fs::path target;
    std::string reason;
  } cases[] = {
      {dir_ / "plain" / "shot.png", "cannot write in"},
      {dir_ / "dangling", "is a link to nothing"},
      {"", "no file name"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(ScreenshotFile::open(c.target, &why)) << c.target;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.target << ": " << why;
  }
}

TEST_F(ScreenshotFileTest, LinksAreWrittenThroughOnlyIntoTheUsersOwnFolders) {
  fs::create_directory(dir_ / "real");
  fs::create_symlink(dir_ / "real" / "shot.png", dir_ / "link.png");
  auto file = ScreenshotFile::open(dir_ / "link.png", nullptr);
  ASSERT_TRUE(file);
  ASSERT_TRUE(write(*file, "through") && file->commit());
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.png"));
  EXPECT_EQ(contents(dir_ / "real" / "shot.png"), "through");

  // Devices are written as they are, never renamed over.
  auto null = ScreenshotFile::open("/dev/null", nullptr);
  ASSERT_TRUE(null);
  ASSERT_TRUE(write(*null, "gone") && null->commit());
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  ASSERT_EQ(geteuid(), 0u)
      << "a folder of another user needs root to make, as the test desktops do";
  fs::create_directory(dir_ / "theirs");
  ASSERT_EQ(::chown((dir_ / "theirs").c_str(), 65534, 65534), 0);
  fs::create_symlink(dir_ / "theirs" / "shot.png", dir_ / "theirs.png");
  std::string why;
  EXPECT_FALSE(ScreenshotFile::open(dir_ / "theirs.png", &why));
  EXPECT_NE(why.find("a folder of another user"), std::string::npos) << why;
}

TEST_F(ScreenshotFileTest, ASignalMidWriteLeavesNoFile) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto file = ScreenshotFile::open(dir_ / "shot.png", nullptr);
      if (!file || !write(*file, "part")) _exit(3);
      raise(signal);
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(names().empty()) << names().front();
  }
}

}  // namespace
}  // namespace dravel
