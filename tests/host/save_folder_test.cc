#include "host/save_folder.h"

#include "channels/method_channel.h"
#include "host/base64.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimBookmarks;
using sim::SimOpenPanel;
using Counts = sim::SimSecurityScopedAccess::Counts;

const std::string kShots = "/Users/me/Shots";
const std::string kDesk = "/Users/me/Desktop";

std::string bookmarkOf(const std::string& path) {
  return base64Encode(SimBookmarks::record(path));
}

TEST(Base64, EncodesAndDecodesTheStandardForms) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="}};
  for (const auto& [plain, text] : vectors) {
    ByteBuffer bytes(plain.begin(), plain.end());
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes) << text;
  }
}

TEST(Base64, RejectsEverythingOutsideTheStrictForm) {
  for (const char* text : {"Zm9v\n", "Zm9vYg", "Zg==Zm9v", "-_8="}) {
    EXPECT_EQ(base64Decode(text), std::nullopt) << text;
  }
}

class SaveFolderTest : public LaunchedHostTest {
 protected:
  MethodResponse begin(Value bookmark) {
    ValueMap args;
    if (!bookmark.isNull()) args.set("bookmark", std::move(bookmark));
    return capture("beginSaveFolderAccess", Value(std::move(args)));
  }
  sim::SimSecurityScopedAccess& access() { return desktop().securityScopedAccess(); }
};

TEST_F(SaveFolderTest, PickAnswersPathAndBookmarkAndOpensNoAccess) {
  desktop().openPanel().automaticAnswer = SimOpenPanel::Answer::folder(kShots);
  auto reply = capture("pickSaveFolder", ValueMap{{"initialDirectory", "/Users/me/My Pictures/"}});
  EXPECT_TRUE(isSuccess(reply, ValueMap{{"path", kShots}, {"bookmark", bookmarkOf(kShots)}}));

  // The folder chooser itself is checked on the X desktop.
  ASSERT_EQ(desktop().openPanel().shown.size(), 1u);
  EXPECT_EQ(desktop().openPanel().shown[0].directoryURL, "file:///Users/me/My%20Pictures/");
  EXPECT_TRUE(access().counts.empty());  // picking opens no access
}

TEST_F(SaveFolderTest, PickAnswersNullWithoutAnOkAndAChosenFolder) {
  desktop().openPanel().automaticAnswer = SimOpenPanel::Answer{kModalResponseCancel, kShots};
  EXPECT_TRUE(isSuccess(capture("pickSaveFolder"), Value()));
  EXPECT_TRUE(desktop().bookmarks().created.empty());
  // Without an initial folder the panel opens where it likes.
  EXPECT_EQ(desktop().openPanel().shown.at(0).directoryURL, std::nullopt);
}

TEST_F(SaveFolderTest, PickWithoutABookmarkStillAnswersThePath) {
  desktop().bookmarks().uncreatable.insert(kShots);
  desktop().openPanel().automaticAnswer = SimOpenPanel::Answer::folder(kShots);
  EXPECT_TRUE(isSuccess(capture("pickSaveFolder"), ValueMap{{"path", kShots}}));
}

TEST_F(SaveFolderTest, AbsentOrMalformedBookmarkTextIsBadAndChangesNothing) {
  ASSERT_TRUE(isSuccess(begin(bookmarkOf(kShots)), ValueMap{{"path", kShots}, {"stale", false}}));
  const std::string good = bookmarkOf(kDesk);
  for (const Value& bookmark :
       {Value(), Value(42), Value(good + "\n"), Value(good.substr(0, good.size() - 1))}) {
    EXPECT_TRUE(isError(begin(bookmark), "bad_bookmark")) << bookmark.debugString();
  }
  EXPECT_EQ(desktop().bookmarks().resolutions, 1);
  // Empty text is valid base64 and fails only at resolution.
  EXPECT_TRUE(isError(begin(""), "unresolved", "The bookmark data isn't in the correct format."));
  EXPECT_EQ(desktop().bookmarks().resolutions, 2);
  EXPECT_EQ(SaveFolder::accessed(), kShots);
  EXPECT_EQ(access().openFolders(), std::vector<std::string>{kShots});
}

TEST_F(SaveFolderTest, ASecondBeginClosesTheFirstFolderBeforeOpeningTheNext) {
  ASSERT_TRUE(isSuccess(begin(bookmarkOf(kShots)), ValueMap{{"path", kShots}, {"stale", false}}));
  EXPECT_EQ(access().countsFor(kShots), (Counts{1, 1, 0}));
  ASSERT_TRUE(isSuccess(begin(bookmarkOf(kDesk)), ValueMap{{"path", kDesk}, {"stale", false}}));
  EXPECT_EQ(access().countsFor(kShots), (Counts{1, 1, 1}));
  EXPECT_EQ(SaveFolder::accessed(), kDesk);

  // The same folder again: closed, then opened once more.
  ASSERT_TRUE(isSuccess(begin(bookmarkOf(kDesk)), ValueMap{{"path", kDesk}, {"stale", false}}));
  EXPECT_EQ(access().countsFor(kDesk), (Counts{2, 2, 1}));
  EXPECT_EQ(access().openFolders(), std::vector<std::string>{kDesk});
}

TEST_F(SaveFolderTest, AStaleBookmarkOpensTheFolderAndComesWithAFreshOne) {
  desktop().bookmarks().stale.insert(kShots);
  EXPECT_TRUE(
      isSuccess(begin(bookmarkOf(kShots)),
                ValueMap{{"path", kShots}, {"stale", true}, {"bookmark", bookmarkOf(kShots)}}));
  EXPECT_EQ(desktop().bookmarks().created, std::vector<std::string>{kShots});

  desktop().bookmarks().uncreatable.insert(kShots);
  EXPECT_TRUE(isSuccess(begin(bookmarkOf(kShots)), ValueMap{{"path", kShots}, {"stale", true}}));
  EXPECT_TRUE(access().isOpen(kShots));
}

TEST_F(SaveFolderTest, EndClosesTheOpenFolderOnce) {
  EXPECT_TRUE(isSuccess(capture("endSaveFolderAccess"), Value()));
  EXPECT_TRUE(access().counts.empty());

  ASSERT_TRUE(isSuccess(begin(bookmarkOf(kShots)), ValueMap{{"path", kShots}, {"stale", false}}));
  EXPECT_TRUE(isSuccess(capture("endSaveFolderAccess"), Value()));
  EXPECT_TRUE(isSuccess(capture("endSaveFolderAccess"), Value()));
  EXPECT_EQ(access().countsFor(kShots), (Counts{1, 1, 1}));
  EXPECT_EQ(SaveFolder::accessed(), std::nullopt);
}

}  // namespace
}  // namespace dravel::testing
