// Simulated user input on "sim/desktop": "movePointer".
#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

std::optional<double> number(const Value& args, const char* key) {
  if (auto d = args.doubleAt(key)) return d;
  if (auto i = args.intAt(key)) return static_cast<double>(*i);
  return std::nullopt;
}

// {"x": number, "y": number} in global bottom-left points, and optionally
// "pressedButtons": the mouse buttons held from then on. Answers null, or the
// error "bad_args" when a coordinate is missing.
void movePointer(const Value& arguments, SimDesktop& desktop, FlutterResult result) {
  const Value args = arguments.argumentsOrEmpty();
  auto x = number(args, "x");
  auto y = number(args, "y");
  if (!x || !y) {
    result(FlutterError::errorWithCode("bad_args", "movePointer needs numbers x and y"));
    return;
  }
  desktop.input().pointer = {*x, *y};
  if (auto buttons = args.intAt("pressedButtons"); buttons && *buttons >= 0) {
    desktop.input().buttons = static_cast<uint64_t>(*buttons);
  }
  result(Value());
}

const ActionRegistrar movePointerAction{{"movePointer", movePointer}};

}  // namespace
}  // namespace dravel::sim
