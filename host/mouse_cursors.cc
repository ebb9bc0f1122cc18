#include "host/mouse_cursors.h"

#include "channels/log.h"
#include "platform/seam/platform.h"

namespace dravel::MouseCursors {
namespace {

constexpr const char* kPluginClass = "FlutterMouseCursorPlugin";
constexpr const char* kCursorFromKind = "cursorFromKind:";
constexpr double kSize = 24;
constexpr double kPi = 3.141592653589793;

}  // namespace

void install() {
  ObjectRuntime& runtime = platform().objectRuntime();
  if (!runtime.classNamed(kPluginClass)) {
    NSLog("[cursors] FlutterMouseCursorPlugin не найден, диагональных курсоров не будет");
    return;
  }
  std::optional<CursorFromKindImp> previous =
      runtime.classMethodImplementation(kPluginClass, kCursorFromKind);
  if (!previous) {
    NSLog("[cursors] +cursorFromKind: не найден, диагональных курсоров не будет");
    return;
  }
  runtime.setClassMethodImplementation(
      kPluginClass, kCursorFromKind,
      [previous = std::move(*previous)](const std::string& cls, const std::string& selector,
                                        const std::string& kind) -> std::shared_ptr<Cursor> {
        if (auto cursor = diagonal(kind)) return cursor;
        return previous(cls, selector, kind);
      });
}

std::shared_ptr<Cursor> diagonal(const std::string& kind) {
  if (kind == "resizeUpLeftDownRight" || kind == "resizeUpLeft" || kind == "resizeDownRight") {
    return northWestSouthEast();
  }
  if (kind == "resizeUpRightDownLeft" || kind == "resizeUpRight" || kind == "resizeDownLeft") {
    return northEastSouthWest();
  }
  return nullptr;
}

const std::shared_ptr<Cursor>& northWestSouthEast() {
  // Function-local statics: made once, safely, by whichever thread comes first.
  static const std::shared_ptr<Cursor> cursor = makeCursor(-45);
  return cursor;
}

const std::shared_ptr<Cursor>& northEastSouthWest() {
  static const std::shared_ptr<Cursor> cursor = makeCursor(45);
  return cursor;
}

std::shared_ptr<Cursor> makeCursor(double angle) {
  auto image = Image::imageWithSize({kSize, kSize}, false, [angle](const Rect& rect) {
    GraphicsContext* ctx = GraphicsContext::current();
    if (!ctx || !ctx->cairo()) return false;
    ctx->translate(rect.x + rect.width * 0.5, rect.y + rect.height * 0.5);
    ctx->rotate(angle * kPi / 180);
    BezierPath path = arrowPath();
    ctx->setStrokeColor(Color::white());
    path.setLineWidth(2.5);
    path.setLineJoinStyle(LineJoinStyle::kRound);
    path.stroke();
    ctx->setFillColor(Color::black());
    path.fill();
    return true;
  });
  return std::make_shared<Cursor>(std::move(image), Point{12, 12});
}

BezierPath arrowPath() {
  static constexpr Point kVertices[] = {
      {-9.0, 0.0}, {-3.0, 4.5}, {-3.0, 1.5}, {3.0, 1.5},   {3.0, 4.5},
      {9.0, 0.0},  {3.0, -4.5}, {3.0, -1.5}, {-3.0, -1.5}, {-3.0, -4.5},
  };
  BezierPath path;
  path.moveToPoint(kVertices[0]);
  for (size_t i = 1; i < std::size(kVertices); ++i) path.lineToPoint(kVertices[i]);
  path.closePath();
  return path;
}

}  // namespace dravel::MouseCursors
