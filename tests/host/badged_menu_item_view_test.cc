#include "host/badged_menu_item_view.h"

#include <array>
#include <cmath>

#include "platform/shared/menu.h"
#include "tests/support/host_fixture.h"

namespace dravel::testing {
namespace {

// The simulated metrics: "Capture" in the 14-point menu font is
// (0.65 + 0.55 + 0.55 + 0.3 + 0.55 + 0.3 + 0.55) x 14 = 48.3 wide and 16.8
// high; "3" in 11-point semibold is 0.65 x 11 = 7.15 wide, so its pill is
// ceil(7.15) + 14 = 22 wide; "Ctrl+Shift+4" is 5.3 x 14 = 74.2 wide.
constexpr double kTitleWidth = 48.3;
constexpr double kLineHeight = 16.8;
constexpr double kHintWidth = 74.2;

void expectFrame(const View& view, Rect expected) {
  const Rect f = view.frame();
  EXPECT_NEAR(f.x, expected.x, 1e-9) << view.className();
  EXPECT_NEAR(f.y, expected.y, 1e-9) << view.className();
  EXPECT_NEAR(f.width, expected.width, 1e-9) << view.className();
  EXPECT_NEAR(f.height, expected.height, 1e-9) << view.className();
}

bool samePixel(Bitmap::Pixel p, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
  return std::abs(p.r - r) <= 1 && std::abs(p.g - g) <= 1 && std::abs(p.b - b) <= 1 &&
         std::abs(p.a - a) <= 1;
}

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

TEST_F(BadgedMenuItemViewTest, BadgeSizesThePillAndTheViewAndLaysOutRightToLeft) {
  BadgedMenuItemView view("Capture", "3", std::nullopt);
  ASSERT_TRUE(view.pill().image());
  EXPECT_EQ(view.pill().image()->size(), (Size{22, 18}));
  // ceil(48.3 + 14 + 12 + 22 + 12)
  expectFrame(view, {0, 0, 109, 22});
  EXPECT_TRUE(view.hint().isHidden());

  // The title ends eight points before the pill, which ends twelve before the edge.
  view.layoutSubtreeIfNeeded();
  expectFrame(view.label(), {14, (22 - kLineHeight) * 0.5, 109 - 12 - 22 - 8 - 14, kLineHeight});
}

TEST_F(BadgedMenuItemViewTest, HintIsRightAlignedAndTheTitleEndsEightPointsBeforeIt) {
  BadgedMenuItemView view("Capture", std::nullopt, "Ctrl+Shift+4");
  EXPECT_FALSE(view.pill().image());
  EXPECT_FALSE(view.hint().isHidden());
  const double width = std::ceil(kTitleWidth + 38 + kHintWidth);
  expectFrame(view, {0, 0, width, 22});

  view.layoutSubtreeIfNeeded();
  const double hintX = width - 12 - kHintWidth;
  expectFrame(view.hint(), {hintX, (22 - kLineHeight) * 0.5, kHintWidth, kLineHeight});
  EXPECT_NEAR(view.label().frame().maxX(), hintX - 8, 1e-9);

  // Without badge or hint the title ends twenty points before the edge.
  BadgedMenuItemView plain("Capture", std::nullopt, std::nullopt);
  plain.layoutSubtreeIfNeeded();
  EXPECT_NEAR(plain.label().frame().maxX(), std::ceil(kTitleWidth + 38) - 20, 1e-9);
}

TEST_F(BadgedMenuItemViewTest, StretchedByTheMenuAndClampedWhenTooNarrow) {
  auto view = inMenu("3", std::nullopt);
  EXPECT_EQ(menu_->layoutItems(300), 300);
  expectFrame(*view, {0, 0, 300, 22});
  expectFrame(view->pill(), {300 - 12 - 22, 2, 22, 18});
  expectFrame(view->highlight(), {5, 0, 290, 22});

  view->setFrame({0, 0, 30, 22});
  view->layoutSubtreeIfNeeded();
  EXPECT_EQ(view->label().frame().width, 0);
  expectFrame(view->pill(), {-4, 2, 22, 18});
}

TEST_F(BadgedMenuItemViewTest, StatesSetTextColoursAndHighlightButThePillStaysRed) {
  auto view = inMenu("3", std::nullopt);
  menu_->layoutItems(200);
  const Rect pill = view->pill().frame();
  struct Case {
    bool enabled, highlighted;
    Color label, hint;
    bool highlightShown;
  };
  for (const Case& c : {
           Case{true, false, labelColor(), secondaryLabelColor(), false},
           Case{true, true, selectedMenuItemTextColor(), selectedMenuItemTextColor(), true},
           Case{false, true, disabledControlTextColor(), disabledControlTextColor(), false},
           Case{false, false, disabledControlTextColor(), disabledControlTextColor(), false},
       }) {
    item_->setEnabled(c.enabled);
    item_->setHighlighted(c.highlighted);
    const Bitmap bitmap = renderView(*view, 2);
    SCOPED_TRACE(::testing::Message()
                 << "enabled " << c.enabled << " highlighted " << c.highlighted);
    EXPECT_EQ(view->label().textColor(), c.label);
    EXPECT_EQ(view->hint().textColor(), c.hint);
    EXPECT_EQ(view->highlight().isHidden(), !c.highlightShown);

    // Inside the highlight's inset, left of the title; and outside the inset.
    const Bitmap::Pixel inside = bitmap.atPoint(8, 11, 2);
    if (c.highlightShown) {
      const Color accent = selectionMaterialColor();
      EXPECT_TRUE(samePixel(inside, static_cast<uint8_t>(std::lround(accent.red * 255)),
                            static_cast<uint8_t>(std::lround(accent.green * 255)),
                            static_cast<uint8_t>(std::lround(accent.blue * 255))));
    } else {
      EXPECT_EQ(inside.a, 0);
    }
    EXPECT_EQ(bitmap.atPoint(2, 11, 2).a, 0);
    // The pill's fill, clear of its rounded ends and its text.
    EXPECT_TRUE(samePixel(bitmap.atPoint(pill.x + 4, pill.y + 9, 2), 222, 59, 59));
  }
}

// The rows and columns that hold fully white pixels: {minX, minY, maxX, maxY}.
std::array<int, 4> whiteBox(const Bitmap& bitmap) {
  std::array<int, 4> box{bitmap.width, bitmap.height, -1, -1};
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const auto p = bitmap.at(x, y);
      if (p.r > 240 && p.g > 240 && p.b > 240 && p.a > 240) {
        box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
      }
    }
  }
  return box;
}

TEST_F(BadgedMenuItemViewTest, PillTextIsCentredVerticallyInThePill) {
  // The text's line box is 1.2 x 11 = 13.2 high, so it is drawn from
  // (7, (18 - 13.2) / 2 = 2.4): the same glyphs drawn there on their own
  // land on exactly the same pixels.
  const AttributedString text{"42", Font::systemFontOfSize(11, FontWeight::kSemibold),
                              Color::white()};
  ASSERT_NEAR(text.size().height, 13.2, 1e-9);
  constexpr double kScale = 4;
  const Bitmap pill = renderImage(*BadgedMenuItemView::pillImage("42"), kScale);
  const Bitmap alone = renderToBitmap({29, 18}, kScale, [&](GraphicsContext&) {
    text.drawAtPoint({7, 2.4});
  });
  const auto expected = whiteBox(alone);
  ASSERT_GE(expected[3], expected[1]) << "the text drew nothing";
  const auto actual = whiteBox(pill);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(actual[i], expected[i], 1) << i;
  // Red with rounded ends: the corners stay clear.
  EXPECT_TRUE(samePixel(pill.atPoint(3.5, 9, kScale), 222, 59, 59));
  EXPECT_EQ(pill.atPoint(0.2, 0.2, kScale).a, 0);
  EXPECT_EQ(pill.atPoint(28.8, 17.8, kScale).a, 0);
}

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

TEST_F(BadgedMenuItemViewTest, ClickOnADisabledItemOrOneOutsideAMenuDoesNothing) {
  auto view = inMenu("3", std::nullopt);
  item_->setEnabled(false);
  view->mouseUp({});
  queue().runUntilIdle();
  EXPECT_TRUE(menu_->isTracking());
  EXPECT_EQ(actions_, 0);

  int loose = 0;
  auto item = MenuItem::create("Loose", [&loose](MenuItem&) { ++loose; });
  auto lone = std::make_shared<BadgedMenuItemView>("Loose", "1", std::nullopt);
  item->setView(lone);
  lone->mouseUp({});
  BadgedMenuItemView("No item", "1", std::nullopt).mouseUp({});
  queue().runUntilIdle();
  EXPECT_EQ(loose, 0);
}

TEST_F(BadgedMenuItemViewTest, AsOneLineOfTextTheBadgeAndHintFollowTheTitle) {
  EXPECT_EQ(BadgedMenuItemView("Capture", "12", "new").textLabel(), "Capture (12) — new");
  // Empty texts add nothing, not empty brackets or a dangling dash.
  EXPECT_EQ(BadgedMenuItemView("Capture", "", "").textLabel(), "Capture");
  // Other views have no text reading: their item keeps its title.
  EXPECT_EQ(TextField::labelWithString("Plain")->textLabel(), std::nullopt);
}

TEST(BadgedMenuItemViewDeathTest, RestoringFromAnArchiveStopsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(BadgedMenuItemView::initWithCoder(Value()), "init\\(coder:\\) is not supported");
}

}  // namespace
}  // namespace dravel::testing
