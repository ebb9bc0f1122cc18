// Views: rectangles in a tree that lay out their subviews and draw themselves
// into the current graphics context, plus the few kinds the host builds a menu
// item from (text labels, image views, visual-effect backgrounds).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channels/value.h"
#include "platform/shared/drawing.h"
#include "platform/seam/input.h"
#include "platform/seam/geometry.h"

namespace dravel {

class MenuItem;

// Autoresizing mask bits.
enum AutoresizingMask : unsigned {
  kViewNotSizable = 0,
  kViewMinXMargin = 1,
  kViewWidthSizable = 2,
  kViewMaxXMargin = 4,
  kViewMinYMargin = 8,
  kViewHeightSizable = 16,
  kViewMaxYMargin = 32,
};

// Text alignment, as the host's toolkit numbers it.
enum TextAlignment : int {
  kTextAlignmentLeft = 0,
  kTextAlignmentRight = 1,
  kTextAlignmentCenter = 2
};

// A view's backing layer: only the settings that change how it is drawn.
struct Layer {
  double cornerRadius = 0;
  bool masksToBounds = false;
};

class View {
 public:
  explicit View(Rect frame = {});
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // The class name, as the runtime describes the type.
  virtual std::string className() const { return "NSView"; }

  Rect frame() const { return frame_; }
  // Sets the frame; when the size changes, subviews follow their autoresizing
  // masks and the view needs layout.
  void setFrame(const Rect& frame);
  Rect bounds() const { return {0, 0, frame_.width, frame_.height}; }

  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }

  bool wantsLayer() const { return wantsLayer_; }
  void setWantsLayer(bool wants) { wantsLayer_ = wants; }
  // The backing layer; its settings take effect only when the view wants one.
  Layer& layer() { return layer_; }
  const Layer& layer() const { return layer_; }

  void addSubview(std::shared_ptr<View> view);
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

  // The natural size of the content; -1 in a dimension that has none.
  virtual Size intrinsicContentSize() const { return {-1, -1}; }
  virtual bool allowsVibrancy() const { return false; }

  // How the view reads as a one-line text label, for menus shown by another
  // process that can carry nothing but text; none when the view has no such
  // reading (the item then keeps its own title).
  virtual std::optional<std::string> textLabel() const { return std::nullopt; }

  // Places the subviews. The base does nothing beyond autoresizing, which
  // happens when the frame changes.
  virtual void layout() {}
  // Lays out this view and then its subviews, if a layout is pending.
  void layoutSubtreeIfNeeded();

  // Draws the view's own content (not its subviews) into the current context,
  // in the view's bounds space.
  virtual void draw(const Rect& dirtyRect);
  // Draws this view and its subtree into the current context, positioned by
  // its frame in the superview's space. Hidden views and their subviews are
  // skipped.
  void display();

  virtual void mouseUp(const MouseEvent& event);

  // The menu item whose view this view is (or lies within), if any.
  std::shared_ptr<MenuItem> enclosingMenuItem() const;

  // A description of the subtree for state reports: class, frame, hidden and
  // what each kind adds.
  virtual ValueMap describe() const;

 private:
  friend class MenuItem;
  Rect frame_;
  unsigned autoresizingMask_ = kViewNotSizable;
  bool hidden_ = false;
  bool wantsLayer_ = false;
  bool needsLayout_ = true;
  Layer layer_;
  std::vector<std::shared_ptr<View>> subviews_;
  View* superview_ = nullptr;
  std::weak_ptr<MenuItem> menuItem_;
};

// A non-editable, borderless text label.
class TextField : public View {
 public:
  static std::shared_ptr<TextField> labelWithString(const std::string& string);

  std::string className() const override { return "NSTextField"; }
  const std::string& stringValue() const { return string_; }
  void setStringValue(const std::string& s) { string_ = s; }
  const Font& font() const { return font_; }
  void setFont(const Font& font) { font_ = font; }
  int alignment() const { return alignment_; }
  void setAlignment(int alignment) { alignment_ = alignment; }
  const Color& textColor() const { return textColor_; }
  void setTextColor(const Color& color) { textColor_ = color; }
  bool isEditable() const { return false; }

  // The measured size of the text in the label's font.
  Size intrinsicContentSize() const override;
  void draw(const Rect& dirtyRect) override;
  ValueMap describe() const override;

 private:
  TextField() = default;
  std::string string_;
  Font font_ = Font::systemFontOfSize(13, FontWeight::kRegular);
  int alignment_ = kTextAlignmentLeft;
  Color textColor_ = labelColor();
};

// Shows an image at its own size, centred in the view.
class ImageView : public View {
 public:
  ImageView() = default;
  std::string className() const override { return "NSImageView"; }
  const std::shared_ptr<Image>& image() const { return image_; }
  void setImage(std::shared_ptr<Image> image) { image_ = std::move(image); }
  Size intrinsicContentSize() const override;
  void draw(const Rect& dirtyRect) override;
  ValueMap describe() const override;

 private:
  std::shared_ptr<Image> image_;
};

enum VisualEffectMaterial : int {
  kVisualEffectMaterialMenu = 5,
  kVisualEffectMaterialSelection = 4
};
enum VisualEffectBlendingMode : int {
  kVisualEffectBlendingModeBehindWindow = 0,
  kVisualEffectBlendingModeWithinWindow = 1,
};
enum VisualEffectState : int {
  kVisualEffectStateFollowsWindowActiveState = 0,
  kVisualEffectStateActive = 1,
  kVisualEffectStateInactive = 2,
};

// A translucent material background; the selection material draws the
// accent colour when emphasized.
class VisualEffectView : public View {
 public:
  VisualEffectView() = default;
  std::string className() const override { return "NSVisualEffectView"; }
  int material() const { return material_; }
  void setMaterial(int m) { material_ = m; }
  bool isEmphasized() const { return emphasized_; }
  void setEmphasized(bool e) { emphasized_ = e; }
  int blendingMode() const { return blendingMode_; }
  void setBlendingMode(int m) { blendingMode_ = m; }
  int state() const { return state_; }
  void setState(int s) { state_ = s; }
  void draw(const Rect& dirtyRect) override;
  ValueMap describe() const override;

 private:
  int material_ = kVisualEffectMaterialMenu;
  bool emphasized_ = false;
  int blendingMode_ = kVisualEffectBlendingModeBehindWindow;
  int state_ = kVisualEffectStateFollowsWindowActiveState;
};

// Renders a view tree (laid out first) into a bitmap of the view's size.
Bitmap renderView(View& view, double scale);

}  // namespace dravel
