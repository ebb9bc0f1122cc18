// Folder bookmarks on Linux, against real folders in a temporary folder.
#include "platform/linux/linux_bookmarks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/sim/sim_bookmarks.h"

namespace dravel::linux_platform {
namespace {

namespace fs = std::filesystem;

using Resolution = std::variant<ResolvedBookmark, BookmarkError>;

const BookmarkError kNotARecord{"The bookmark data isn't in the correct format."};

class LinuxBookmarksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dravel-bookmarks-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    shots_ = (root_ / "Screen shots").string();
    fs::create_directory(shots_);
  }
  void TearDown() override { fs::remove_all(root_); }

  Resolution resolve(const ByteBuffer& data) { return bookmarks_.resolveBookmark(data); }
  static Resolution gone(const std::string& path) {
    return BookmarkError{"The folder \"" + path + "\" couldn't be found."};
  }

  LinuxBookmarks bookmarks_{false};
  fs::path root_;
  std::string shots_;
};

TEST_F(LinuxBookmarksTest, AFolderLeftAloneResolvesFreshAndOneRenamedOrDeletedDoesNot) {
  std::optional<ByteBuffer> bookmark = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(bookmark);
  EXPECT_EQ(resolve(*bookmark), Resolution(ResolvedBookmark{shots_, false}));
  // Files coming and going inside it change nothing.
  std::ofstream(shots_ + "/one.png") << "png";
  EXPECT_EQ(resolve(*bookmark), Resolution(ResolvedBookmark{shots_, false}));

  // The bookmark names the path: a renamed folder is not followed.
  fs::rename(shots_, root_ / "Renamed");
  EXPECT_EQ(resolve(*bookmark), gone(shots_));
  // A file in its place is not a folder.
  std::ofstream(shots_) << "not a folder";
  EXPECT_EQ(resolve(*bookmark), gone(shots_));
  fs::remove(shots_);
  fs::remove_all(root_ / "Renamed");
  EXPECT_EQ(resolve(*bookmark), gone(shots_));
}

TEST_F(LinuxBookmarksTest, AnotherFolderInThePlaceOfTheBookmarkedOneIsStale) {
  std::optional<ByteBuffer> bookmark = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(bookmark);
  // Deleted and made again at the same path. The new folder is made before
  // the old one goes: a folder made after it could get its freed inode
  // number back, and then nothing tells the two apart (nor needs to: it is
  // the same path).
  fs::create_directory(root_ / "new");
  fs::remove(shots_);
  fs::rename(root_ / "new", shots_);
  EXPECT_EQ(resolve(*bookmark), Resolution(ResolvedBookmark{shots_, true}));
  // A fresh bookmark of what is there now is not stale.
  std::optional<ByteBuffer> fresh = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(fresh);
  EXPECT_NE(*fresh, *bookmark);
  EXPECT_EQ(resolve(*fresh), Resolution(ResolvedBookmark{shots_, false}));

  // Moved away and another folder moved into its place.
  fs::create_directory(root_ / "Other");
  fs::rename(shots_, root_ / "Old");
  fs::rename(root_ / "Other", shots_);
  EXPECT_EQ(resolve(*fresh), Resolution(ResolvedBookmark{shots_, true}));
  // The same path with another identity, as a record of another machine.
  EXPECT_EQ(resolve(folderRecord(shots_, 1, 2)), Resolution(ResolvedBookmark{shots_, true}));
}

TEST_F(LinuxBookmarksTest, OnlyAnExistingFolderNamedByAnAbsolutePathIsBookmarked) {
  std::ofstream(root_ / "file") << "x";
  for (const std::string& path :
       {(root_ / "missing").string(), (root_ / "file").string(), std::string("Screen shots"),
        std::string(), std::string("/tmp\0/x", 6)}) {
    EXPECT_EQ(bookmarks_.createBookmark(path), std::nullopt) << path;
  }
  // A link to a folder is followed; the bookmark keeps the path it was given.
  fs::create_directory_symlink(shots_, root_ / "link");
  std::optional<ByteBuffer> link = bookmarks_.createBookmark((root_ / "link").string());
  ASSERT_TRUE(link);
  EXPECT_EQ(resolve(*link), Resolution(ResolvedBookmark{(root_ / "link").string(), false}));

  LinuxBookmarks sandboxed(true);
  EXPECT_EQ(sandboxed.createBookmark(shots_), std::nullopt);
  EXPECT_TRUE(std::holds_alternative<BookmarkError>(sandboxed.resolveBookmark(*link)));
}

TEST_F(LinuxBookmarksTest, RecordsOfTheSimulatedDesktopAndDamagedRecordsNeverResolve) {
  // The simulated desktop's record of this very folder is not ours, and ours
  // is not the simulated desktop's.
  EXPECT_EQ(resolve(sim::SimBookmarks::record(shots_)), Resolution(kNotARecord));
  std::optional<ByteBuffer> bookmark = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(bookmark);
  sim::SimBookmarks simulated;
  EXPECT_TRUE(std::holds_alternative<BookmarkError>(simulated.resolveBookmark(*bookmark)));

  // Every cut of the record, and every single bit flipped in it: none names
  // a folder.
  for (size_t size = 0; size < bookmark->size(); ++size) {
    ByteBuffer cut(bookmark->begin(), bookmark->begin() + static_cast<ptrdiff_t>(size));
    EXPECT_TRUE(std::holds_alternative<BookmarkError>(resolve(cut))) << size;
  }
  for (size_t at = 0; at < bookmark->size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      ByteBuffer damaged = *bookmark;
      damaged[at] ^= static_cast<uint8_t>(1 << bit);
      EXPECT_TRUE(std::holds_alternative<BookmarkError>(resolve(damaged))) << at << "/" << bit;
    }
  }
  ByteBuffer longer = *bookmark;
  longer.push_back(0);
  EXPECT_EQ(resolve(longer), Resolution(kNotARecord));
  EXPECT_EQ(resolve(ByteBuffer(64, 0x41)), Resolution(kNotARecord));

  // Well-formed records that still name no folder.
  EXPECT_EQ(resolve(folderRecord(shots_, 1, 2, 2)),
            Resolution(BookmarkError{"The bookmark data was made by an unknown version."}));
  EXPECT_EQ(resolve(folderRecord("Screen shots", 1, 2)), Resolution(kNotARecord));
  EXPECT_EQ(resolve(folderRecord("", 1, 2)), Resolution(kNotARecord));
}

}  // namespace
}  // namespace dravel::linux_platform
