#include "host/badged_menu_item_view.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "channels/log.h"
#include "channels/main_queue.h"
#include "platform/shared/menu.h"

namespace dravel {

BadgedMenuItemView::BadgedMenuItemView(const std::string& title,
                                       const std::optional<std::string>& badge,
                                       const std::optional<std::string>& hint)
    : highlight_(std::make_shared<VisualEffectView>()),
      label_(TextField::labelWithString("")),
      pill_(std::make_shared<ImageView>()),
      hint_(TextField::labelWithString("")),
      title_(title),
      badge_(badge),
      hintText_(hint) {
  const Font menuFont = Font::menuFontOfSize(0);

  label_->setStringValue(title);
  label_->setFont(menuFont);

  if (badge) pill_->setImage(pillImage(*badge));

  hint_->setStringValue(hint.value_or(""));
  hint_->setFont(menuFont);
  hint_->setAlignment(kTextAlignmentRight);
  hint_->setHidden(!hint.has_value());

  double trailing = 0;
  if (pill_->image()) {
    trailing = pill_->image()->size().width;
  } else if (hint) {
    trailing = hint_->intrinsicContentSize().width;
  }
  const double width = std::ceil(label_->intrinsicContentSize().width + kLabelLeft + kRightMargin +
                                 trailing + kRightMargin);
  setFrame({0, 0, width, kHeight});
  setAutoresizingMask(kViewWidthSizable);

  highlight_->setMaterial(kVisualEffectMaterialSelection);
  highlight_->setEmphasized(true);
  highlight_->setBlendingMode(kVisualEffectBlendingModeBehindWindow);
  highlight_->setState(kVisualEffectStateActive);
  highlight_->setWantsLayer(true);
  highlight_->layer().cornerRadius = kHighlightRadius;
  highlight_->layer().masksToBounds = true;
  highlight_->setHidden(true);

  addSubview(highlight_);
  addSubview(label_);
  addSubview(pill_);
  addSubview(hint_);
}

void BadgedMenuItemView::initWithCoder(const Value&) {
  const char* message = "init(coder:) is not supported";
  NSLog("Dravel/TrayMenuExtras: Fatal error: %s", message);
  std::fprintf(stderr, "Dravel/TrayMenuExtras: Fatal error: %s\n", message);
  std::abort();
}

void BadgedMenuItemView::layout() {
  View::layout();
  const Rect b = bounds();
  const double w = b.width;
  const double h = b.height;

  highlight_->setFrame({kHighlightInset, 0, w - 2 * kHighlightInset, h});

  const Size pillSize = pill_->image() ? pill_->image()->size() : Size{0, 0};
  pill_->setFrame({w - kRightMargin - pillSize.width, (h - pillSize.height) * 0.5, pillSize.width,
                   pillSize.height});

  const Size hintSize = hint_->isHidden() ? Size{0, 0} : hint_->intrinsicContentSize();
  hint_->setFrame({w - kRightMargin - hintSize.width, (h - hintSize.height) * 0.5, hintSize.width,
                   hintSize.height});

  const View& trailing = hint_->isHidden() ? static_cast<const View&>(*pill_) : *hint_;
  const double trailingX = trailing.frame().minX();

  const double labelHeight = label_->intrinsicContentSize().height;
  label_->setFrame({kLabelLeft, (h - labelHeight) * 0.5,
                    std::max(0.0, trailingX - kGap - kLabelLeft), labelHeight});
}

void BadgedMenuItemView::draw(const Rect& dirtyRect) {
  const std::shared_ptr<MenuItem> item = enclosingMenuItem();
  const bool enabled = !item || item->isEnabled();
  const bool highlighted = item && item->isEnabled() && item->isHighlighted();

  highlight_->setHidden(!highlighted);
  label_->setTextColor(!enabled      ? disabledControlTextColor()
                       : highlighted ? selectedMenuItemTextColor()
                                     : labelColor());
  hint_->setTextColor(!enabled      ? disabledControlTextColor()
                      : highlighted ? selectedMenuItemTextColor()
                                    : secondaryLabelColor());
  View::draw(dirtyRect);
}

void BadgedMenuItemView::mouseUp(const MouseEvent&) {
  const std::shared_ptr<MenuItem> item = enclosingMenuItem();
  if (!item || !item->isEnabled()) return;
  std::shared_ptr<Menu> menu = item->menu();
  if (!menu) return;
  const int64_t index = menu->indexOfItem(*item);
  menu->cancelTrackingWithoutAnimation();
  if (index < 0) return;
  // The action runs once tracking has ended, on a later turn of the main loop.
  mainQueue().async([menu, index] { menu->performActionForItemAtIndex(index); });
}

std::optional<std::string> BadgedMenuItemView::textLabel() const {
  std::string text = title_;
  if (badge_ && !badge_->empty()) text.append(" (").append(*badge_).append(")");
  if (hintText_ && !hintText_->empty()) text.append(" — ").append(*hintText_);
  return text;
}

std::shared_ptr<Image> BadgedMenuItemView::pillImage(const std::string& badge) {
  const AttributedString text{badge, Font::systemFontOfSize(kPillFontSize, FontWeight::kSemibold),
                              Color::white()};
  const Size textSize = text.size();
  const Size size{std::ceil(textSize.width) + kPillExtraWidth, kPillHeight};
  return Image::imageWithSize(size, false, [text, textSize](const Rect& rect) {
    GraphicsContext* ctx = GraphicsContext::current();
    const BezierPath path =
        BezierPath::bezierPathWithRoundedRect(rect, kPillHeight * 0.5, kPillHeight * 0.5);
    if (ctx) ctx->setFillColor(pillFill());
    path.fill();
    text.drawAtPoint({kPillTextInset, (kPillHeight - textSize.height) * 0.5});
    return true;
  });
}

}  // namespace dravel
