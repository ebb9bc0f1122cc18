#include "platform/shared/url.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace dravel {
namespace {

TEST(FileUrl, EncodesEverythingButUnreservedAndSlash) {
  const struct {
    const char* path;
    const char* url;
  } cases[] = {
      {"/photos/trip/", "file:///photos/trip/"},
      {"/my file 100%.txt", "file:///my%20file%20100%25.txt"},
      {"/caf\xc3\xa9/\xe2\x82\xac", "file:///caf%C3%A9/%E2%82%AC"},
      {"/?#[]@!$&'()*+,;=:", "file:///%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D%3A"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fileURLWithPath(c.path), c.url) << c.path;
  }
}

TEST(FileUrl, RelativePathsResolveAgainstTheCurrentDirectory) {
  std::string cwd = std::filesystem::current_path().string();
  if (cwd.back() != '/') cwd += '/';
  EXPECT_EQ(fileURLWithPath("shots/a b.png"), fileURLWithPath(cwd + "shots/a b.png"));
}

}  // namespace
}  // namespace dravel
