// The folder panel and the client that asked for it: a panel whose requester
// has gone is closed, and nothing is made of it.
#include <gtest/gtest.h>

#include "host/save_folder.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

using sim::SimOpenPanel;

struct Picked {
  std::optional<MethodResponse> reply;
};

// Asks for a folder as a call of `requester` would.
void pickFor(const std::shared_ptr<Requester>& requester, Picked& picked) {
  ScopedRequester current(requester);
  SaveFolder::pick(std::nullopt, FlutterResult("dravel/capture.pickSaveFolder",
                                               [&picked](MethodResponse r) { picked.reply = r; }));
}

TEST(OpenPanelOfAGoneRequester, IsCancelledAndAnswersNothingUseful) {
  SimEnvironment env;
  SimOpenPanel& panels = env.desktop->openPanel();
  auto requester = std::make_shared<Requester>();
  auto other = std::make_shared<Requester>();
  Picked gone, stays;
  pickFor(requester, gone);
  pickFor(other, stays);
  ASSERT_EQ(panels.openPanels(), 2u);

  requester->markGone();
  env.queue.runUntilIdle();
  // Only the panel of the requester that went is closed, as a cancel.
  EXPECT_EQ(panels.openPanels(), 1u);
  EXPECT_EQ(panels.cancelled, 1);
  ASSERT_TRUE(gone.reply);
  EXPECT_TRUE(isSuccess(*gone.reply, Value()));
  EXPECT_FALSE(stays.reply);

  // The remaining panel is the other requester's, and answers normally.
  ASSERT_TRUE(panels.answer(SimOpenPanel::Answer::folder("/Users/me/Shots")));
  env.queue.runUntilIdle();
  ASSERT_TRUE(stays.reply);
  EXPECT_EQ(successValue(*stays.reply).stringAt("path"), "/Users/me/Shots");
  EXPECT_EQ(env.desktop->bookmarks().created, std::vector<std::string>{"/Users/me/Shots"});

  // Its watch went with the panel: the requester leaving later cancels nothing.
  other->markGone();
  env.queue.runUntilIdle();
  EXPECT_EQ(panels.cancelled, 1);
}

TEST(OpenPanelOfAGoneRequester, AFolderChosenAfterTheRequesterLeftIsNotBookmarked) {
  SimEnvironment env;
  SimOpenPanel& panels = env.desktop->openPanel();
  // The user's choice is already on its way when the client goes.
  panels.automaticAnswer = SimOpenPanel::Answer::folder("/Users/me/Shots");
  auto requester = std::make_shared<Requester>();
  Picked picked;
  pickFor(requester, picked);
  requester->markGone();
  env.queue.runUntilIdle();
  ASSERT_TRUE(picked.reply);
  EXPECT_TRUE(isSuccess(*picked.reply, Value()));
  EXPECT_TRUE(env.desktop->bookmarks().created.empty());
}

TEST(OpenPanelOfAGoneRequester, ARequesterAlreadyGoneGetsNoPanelLeftOpen) {
  SimEnvironment env;
  auto requester = std::make_shared<Requester>();
  requester->markGone();
  Picked picked;
  pickFor(requester, picked);
  env.queue.runUntilIdle();
  EXPECT_EQ(env.desktop->openPanel().openPanels(), 0u);
  EXPECT_EQ(env.desktop->openPanel().cancelled, 1);
  EXPECT_TRUE(picked.reply);
}

}  // namespace
}  // namespace dravel::testing
