#include "platform/shared/view.h"

#include <cmath>

#include "platform/shared/menu.h"

namespace dravel {
namespace {

Value rectValue(const Rect& r) {
  return ValueList{r.x, r.y, r.width, r.height};
}

Value colorValue(const Color& c) {
  if (!c.name.empty()) return c.name;
  return ValueList{c.red, c.green, c.blue, c.alpha};
}

}  // namespace

View::View(Rect frame) : frame_(frame) {}

View::~View() {
  for (auto& sub : subviews_) sub->superview_ = nullptr;
}

void View::setFrame(const Rect& frame) {
  const Size old = frame_.size();
  frame_ = frame;
  if (old == frame.size()) return;
  const double dw = frame.width - old.width;
  const double dh = frame.height - old.height;
  for (auto& sub : subviews_) {
    Rect f = sub->frame();
    // A stretched length never goes below zero, and one that is not a number
    // (an infinite size taken from an infinite one) is read as 0 as well:
    // std::max keeps its first argument when the comparison fails.
    if (sub->autoresizingMask() & kViewWidthSizable) f.width = std::max(0.0, f.width + dw);
    if (sub->autoresizingMask() & kViewHeightSizable) f.height = std::max(0.0, f.height + dh);
    if (!(f == sub->frame())) sub->setFrame(f);
  }
  needsLayout_ = true;
}

void View::addSubview(std::shared_ptr<View> view) {
  if (!view || view.get() == this) return;
  view->superview_ = this;
  subviews_.push_back(std::move(view));
  needsLayout_ = true;
}

void View::layoutSubtreeIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layout();
  }
  for (auto& sub : subviews_) sub->layoutSubtreeIfNeeded();
}

void View::draw(const Rect&) {}

void View::display() {
  if (hidden_) return;
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx) return;
  ctx->saveGraphicsState();
  ctx->translate(frame_.x, frame_.y);
  if (wantsLayer_ && layer_.masksToBounds) ctx->clipToRoundedRect(bounds(), layer_.cornerRadius);
  draw(bounds());
  for (auto& sub : subviews_) sub->display();
  ctx->restoreGraphicsState();
}

void View::mouseUp(const MouseEvent&) {}

std::shared_ptr<MenuItem> View::enclosingMenuItem() const {
  for (const View* v = this; v; v = v->superview_) {
    if (auto item = v->menuItem_.lock()) return item;
  }
  return nullptr;
}

ValueMap View::describe() const {
  ValueMap m;
  m.set("class", className());
  m.set("frame", rectValue(frame_));
  m.set("hidden", hidden_);
  m.set("autoresizingMask", static_cast<int64_t>(autoresizingMask_));
  ValueList subs;
  for (auto& sub : subviews_) subs.push_back(sub->describe());
  if (!subs.empty()) m.set("subviews", std::move(subs));
  return m;
}

// ---- Text field ----

std::shared_ptr<TextField> TextField::labelWithString(const std::string& string) {
  std::shared_ptr<TextField> field(new TextField());
  field->string_ = string;
  return field;
}

Size TextField::intrinsicContentSize() const {
  return AttributedString{string_, font_, textColor_}.size();
}

void TextField::draw(const Rect&) {
  AttributedString{string_, font_, textColor_}.drawInRect(bounds(), alignment_);
}

ValueMap TextField::describe() const {
  ValueMap m = View::describe();
  m.set("string", string_);
  m.set("alignment", alignment_);
  m.set("textColor", colorValue(textColor_));
  return m;
}

// ---- Image view ----

Size ImageView::intrinsicContentSize() const {
  return image_ ? image_->size() : Size{0, 0};
}

void ImageView::draw(const Rect&) {
  if (!image_) return;
  const Size s = image_->size();
  const Rect b = bounds();
  image_->drawInRect({(b.width - s.width) * 0.5, (b.height - s.height) * 0.5, s.width, s.height});
}

ValueMap ImageView::describe() const {
  ValueMap m = View::describe();
  if (image_) {
    m.set("imageSize", ValueList{image_->size().width, image_->size().height});
  } else {
    m.set("imageSize", Value());
  }
  return m;
}

// ---- Visual-effect view ----

void VisualEffectView::draw(const Rect&) {
  GraphicsContext* ctx = GraphicsContext::current();
  if (!ctx) return;
  Color c = material_ == kVisualEffectMaterialSelection
                ? (emphasized_ ? selectionMaterialColor() : Color::rgba(0, 0, 0, 0.1))
                : Color::rgba(0.96, 0.96, 0.96, 0.9);
  ctx->saveGraphicsState();
  ctx->setFillColor(c);
  BezierPath::bezierPathWithRoundedRect(bounds(), 0, 0).fill();
  ctx->restoreGraphicsState();
}

ValueMap VisualEffectView::describe() const {
  ValueMap m = View::describe();
  m.set("material", material_);
  m.set("emphasized", emphasized_);
  m.set("blendingMode", blendingMode_);
  m.set("state", state_);
  return m;
}

Bitmap renderView(View& view, double scale) {
  view.layoutSubtreeIfNeeded();
  const Rect frame = view.frame();
  return renderToBitmap(frame.size(), scale, [&view, frame](GraphicsContext& ctx) {
    // The view's own origin at the bitmap's corner.
    ctx.translate(-frame.x, -frame.y);
    view.display();
  });
}

}  // namespace dravel
