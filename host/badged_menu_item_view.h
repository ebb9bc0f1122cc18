// The view that takes over the drawing of one tray menu item when it has a
// badge or a hint: the title at the left and, at the right, a red pill with
// the badge text or a hint in secondary text. It draws its own selection
// highlight, follows its item's enabled and highlighted states, and performs
// the item's action when clicked.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "channels/value.h"
#include "platform/shared/drawing.h"
#include "platform/shared/view.h"

namespace dravel {

class BadgedMenuItemView : public View {
 public:
  // The only way to make one. `badge` and `hint` may each be absent.
  BadgedMenuItemView(const std::string& title, const std::optional<std::string>& badge,
                     const std::optional<std::string>& hint);

  // Views of this kind are never restored from an archive: asking for one
  // stops the process.
  [[noreturn]] static void initWithCoder(const Value& archive);

  std::string className() const override { return "BadgedMenuItemView"; }
  bool allowsVibrancy() const override { return true; }
  void layout() override;
  void draw(const Rect& dirtyRect) override;
  void mouseUp(const MouseEvent& event) override;
  // The title with the badge in brackets after it ("Capture (3)") and the
  // hint after a dash ("Capture — Ctrl+Shift+4"), for menus that carry only text;
  // an empty badge or hint adds nothing.
  std::optional<std::string> textLabel() const override;

  // The red pill with the badge text, drawn at the resolution of wherever it
  // is shown.
  static std::shared_ptr<Image> pillImage(const std::string& badge);

  // The four parts, back to front.
  VisualEffectView& highlight() const { return *highlight_; }
  TextField& label() const { return *label_; }
  ImageView& pill() const { return *pill_; }
  TextField& hint() const { return *hint_; }

  static constexpr double kHeight = 22;
  static constexpr double kLabelLeft = 14;
  static constexpr double kGap = 8;
  static constexpr double kRightMargin = 12;
  static constexpr double kHighlightInset = 5;
  static constexpr double kHighlightRadius = 5;
  static constexpr double kPillHeight = 18;
  static constexpr double kPillTextInset = 7;
  static constexpr double kPillExtraWidth = 14;
  static constexpr double kPillFontSize = 11;
  // sRGB 222/255, 59/255, 59/255.
  static Color pillFill() { return Color::rgba(222.0 / 255, 59.0 / 255, 59.0 / 255, 1.0); }

 private:
  std::shared_ptr<VisualEffectView> highlight_;
  std::shared_ptr<TextField> label_;
  std::shared_ptr<ImageView> pill_;
  std::shared_ptr<TextField> hint_;
  std::string title_;
  std::optional<std::string> badge_;
  std::optional<std::string> hintText_;
};

}  // namespace dravel
