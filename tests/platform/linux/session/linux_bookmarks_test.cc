// Folder bookmarks on Linux, against real folders in a temporary folder.
#include "platform/linux/session/linux_bookmarks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/sim/sim_bookmarks.h"

namespace dravel::linux_platform {
namespace {

namespace fs = std::filesystem;
using Resolution = std::variant<ResolvedBookmark, BookmarkError>;

class LinuxBookmarksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dravel-bookmarks-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(shots_ = (root_ / "Screen shots").string());
  }
  void TearDown() override { fs::remove_all(root_); }

  Resolution resolve(const ByteBuffer& data) { return bookmarks_.resolveBookmark(data); }
  Resolution folder(bool stale) const { return ResolvedBookmark{shots_, stale}; }
  Resolution gone() const {
    return BookmarkError{"The folder \"" + shots_ + "\" couldn't be found."};
  }

  LinuxBookmarks bookmarks_{false};
  fs::path root_;
  std::string shots_;
};

TEST_F(LinuxBookmarksTest, TheFolderAtThePathResolvesFreshStaleOrNotAtAll) {
  std::ofstream(root_ / "file") << "x";
  for (const fs::path& path : {root_ / "missing", root_ / "file", fs::path("Screen shots")}) {
    EXPECT_EQ(bookmarks_.createBookmark(path.string()), std::nullopt) << path;
  }
  std::optional<ByteBuffer> bookmark = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(bookmark);
  std::ofstream(shots_ + "/one.png") << "png";
  EXPECT_EQ(resolve(*bookmark), folder(false)) << "its contents change nothing";

  // Deleted and made again at the path. The new folder is made before the
  // old one goes: one made after could get the freed inode number back, and
  // then nothing tells the two apart (nor needs to, at the same path).
  fs::create_directory(root_ / "new");
  fs::remove_all(shots_);
  fs::rename(root_ / "new", shots_);
  EXPECT_EQ(resolve(*bookmark), folder(true));
  std::optional<ByteBuffer> fresh = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(resolve(*fresh), folder(false));

  // Renamed: the bookmark names the path and does not follow it.
  fs::rename(shots_, root_ / "Renamed");
  EXPECT_EQ(resolve(*fresh), gone());
  std::ofstream(shots_) << "a file in its place";
  EXPECT_EQ(resolve(*fresh), gone());
}

TEST_F(LinuxBookmarksTest, RecordsOfTheSimulatedDesktopAndDamagedRecordsNeverResolve) {
  const Resolution notARecord = BookmarkError{"The bookmark data isn't in the correct format."};
  EXPECT_EQ(resolve(sim::SimBookmarks::record(shots_)), notARecord);
  std::optional<ByteBuffer> bookmark = bookmarks_.createBookmark(shots_);
  ASSERT_TRUE(bookmark);

  // Every cut of the record, and every single bit flipped in it.
  for (size_t size = 0; size <= bookmark->size() + 1; ++size) {
    ByteBuffer cut = *bookmark;
    cut.resize(size);
    if (size != bookmark->size()) {
      EXPECT_TRUE(std::holds_alternative<BookmarkError>(resolve(cut))) << size;
    }
  }
  for (size_t bit = 0; bit < bookmark->size() * 8; ++bit) {
    ByteBuffer damaged = *bookmark;
    damaged[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
    EXPECT_TRUE(std::holds_alternative<BookmarkError>(resolve(damaged))) << bit;
  }
  // Well-formed records that still name no folder, or another identity.
  EXPECT_EQ(resolve(folderRecord(shots_, 1, 2, 2)),
            Resolution(BookmarkError{"The bookmark data was made by an unknown version."}));
  EXPECT_EQ(resolve(folderRecord("Screen shots", 1, 2)), notARecord);
  EXPECT_EQ(resolve(folderRecord(shots_, 1, 2)), folder(true));
}

}  // namespace
}  // namespace dravel::linux_platform

namespace dravel::linux_platform {
namespace {

// Inside the sandbox only a sound document record is taken to the document
// portal: the others are refused before it is asked anything.
TEST(LinuxSandboxBookmarks, DamagedDocumentRecordsAndRecordsFromOutsideNeverResolve) {
  LinuxBookmarks sandboxed(true);
  ByteBuffer badChecksum = documentRecord("4f2a9c1e", "Shots");
  badChecksum.back() ^= 1;
  const BookmarkError notARecord{"The bookmark data isn't in the correct format."};
  for (const auto& [record, expected] : std::vector<std::pair<ByteBuffer, BookmarkError>>{
           {folderRecord("/home/user/Shots", 1, 2), notARecord},
           {badChecksum, notARecord},
           {documentRecord("4f2a9c1e", "Shots/../../.."), notARecord},
           {documentRecord("", "Shots"), notARecord},
           {documentRecord("4f2a9c1e", "Shots", 2),
            BookmarkError{"The bookmark data was made by an unknown version."}}}) {
    EXPECT_EQ(sandboxed.resolveBookmark(record), (Resolution{expected}));
  }
  // And outside, no document record names a folder.
  LinuxBookmarks outside(false);
  EXPECT_EQ(outside.resolveBookmark(documentRecord("4f2a9c1e", "Shots")),
            (Resolution{notARecord}));
}

}  // namespace
}  // namespace dravel::linux_platform
