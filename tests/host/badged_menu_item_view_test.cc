#include "host/badged_menu_item_view.h"

#include "platform/shared/menu.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

class BadgedMenuItemViewTest : public HostTest {
 protected:
  // An item in a menu that tracks, holding the view.
  std::shared_ptr<BadgedMenuItemView> inMenu(std::optional<std::string> badge,
                                             std::optional<std::string> hint) {
    menu_ = Menu::create("", "TrayMenu");
    menu_->setTracking(true);
    item_ = MenuItem::create("Capture", [this](MenuItem&) { ++actions_; });
    auto view = std::make_shared<BadgedMenuItemView>("Capture", badge, hint);
    item_->setView(view);
    menu_->addItem(MenuItem::create("Above"));
    menu_->addItem(item_);
    return view;
  }

  std::shared_ptr<Menu> menu_;
  std::shared_ptr<MenuItem> item_;
  int actions_ = 0;
};

// On the Linux desktops the tray shows the item as one line of text; its
// drawing is the simulated menu's.
TEST_F(BadgedMenuItemViewTest, ClickClosesTheMenuAtOnceAndActsOnceOnALaterTurn) {
  auto view = inMenu("3", std::nullopt);
  item_->setHighlighted(true);
  MouseEvent up;
  up.type = kLeftMouseUp;
  view->mouseUp(up);
  EXPECT_FALSE(menu_->isTracking());
  EXPECT_EQ(actions_, 0);
  queue().runUntilIdle();
  queue().runUntilIdle();
  EXPECT_EQ(actions_, 1);
}

TEST_F(BadgedMenuItemViewTest, ClickOnADisabledItemDoesNothing) {
  auto view = inMenu("3", std::nullopt);
  item_->setEnabled(false);
  view->mouseUp({});
  queue().runUntilIdle();
  EXPECT_TRUE(menu_->isTracking());
  EXPECT_EQ(actions_, 0);
}

// The one-line reading is checked against a real panel by the desktop tray
// test; empty texts add nothing, not empty brackets or a dangling dash.
TEST_F(BadgedMenuItemViewTest, EmptyBadgeAndHintAddNothingToTheTextReading) {
  EXPECT_EQ(BadgedMenuItemView("Capture", "", "").textLabel(), "Capture");
}

}  // namespace
}  // namespace dravel::testing
