// Scenario sections and simulated actions of the screens, the pointer, the
// window list, the frontmost application, the system version and the
// capture engines.
#include <climits>
#include <cmath>
#include <string>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/section_fields.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

std::optional<double> number(const Value& v) {
  if (auto d = v.asDouble()) return *d;
  if (auto i = v.asInt()) return static_cast<double>(*i);
  return std::nullopt;
}

// A list of exactly `count` numbers.
std::optional<std::vector<double>> numbers(const Value& v, size_t count) {
  const ValueList* list = v.asList();
  if (!list || list->size() != count) return std::nullopt;
  std::vector<double> out;
  for (const Value& item : *list) {
    auto n = number(item);
    if (!n) return std::nullopt;
    out.push_back(*n);
  }
  return out;
}

Value numberList(std::initializer_list<double> values) {
  ValueList list;
  for (double v : values) list.emplace_back(v);
  return Value(std::move(list));
}

std::string indexed(const char* list, size_t i, const char* key) {
  std::string where = list;
  where += "[";
  where += std::to_string(i);
  where += "].";
  where += key;
  return where;
}

// A frame [x, y, width, height] within the scenario bounds.
std::optional<Rect> boundedFrame(const Value& v, const std::string& where, std::string& error) {
  auto frame = numbers(v, 4);
  if (!frame) {
    error = where + ": expected [x, y, width, height]";
    return std::nullopt;
  }
  const ValueList& parts = *v.asList();
  auto x = boundedNumber(parts[0], where + " x", -kMaxCoordinate, kMaxCoordinate, false, error);
  auto y = x ? boundedNumber(parts[1], where + " y", -kMaxCoordinate, kMaxCoordinate, false, error)
             : std::nullopt;
  auto w = y ? boundedNumber(parts[2], where + " width", 0, kMaxScreenExtent, true, error)
             : std::nullopt;
  auto h = w ? boundedNumber(parts[3], where + " height", 0, kMaxScreenExtent, true, error)
             : std::nullopt;
  if (!h) return std::nullopt;
  return Rect{*x, *y, *w, *h};
}

std::string loadScreens(const Value& value, SimDesktop* desktop) {
  const ValueList* list = value.asList();
  if (!list) return "screens: expected a list";
  std::vector<std::shared_ptr<SimScreen>> screens;
  for (size_t i = 0; i < list->size(); ++i) {
    const Value& item = (*list)[i];
    const ValueMap* map = item.asMap();
    if (!map) return "screens: every screen is a map";
    const Value* frameValue = map->find("frame");
    if (!frameValue || !numbers(*frameValue, 4)) {
      return "screens: \"frame\" must be [x, y, width, height]";
    }
    std::string error;
    auto frame = boundedFrame(*frameValue, indexed("screens", i, "frame"), error);
    if (!frame) return error;
    double scale = 1.0;
    if (const Value* s = map->find("scale")) {
      auto n = number(*s);
      if (!n || !(*n > 0)) return "screens: \"scale\" must be a positive number";
      auto bounded =
          boundedNumber(*s, indexed("screens", i, "scale"), 0, kMaxScreenScale, true, error);
      if (!bounded) return error;
      scale = *bounded;
    }
    ValueMap description;
    if (const Value* d = map->find("deviceDescription")) {
      // Raw, as the system gives it: malformed content is kept on purpose.
      if (!d->asMap()) return "screens: \"deviceDescription\" must be a map";
      description = *d->asMap();
    } else if (const Value* id = map->find("displayId")) {
      if (!id->asInt()) return "screens: \"displayId\" must be an integer";
      if (!boundedInteger(*id, indexed("screens", i, "displayId"), 0, kMaxDisplayId, error)) {
        return error;
      }
      description.set("NSScreenNumber", *id);
    } else {
      return "screens: each screen needs \"displayId\" or \"deviceDescription\"";
    }
    if (desktop)
      screens.push_back(std::make_shared<SimScreen>(*frame, scale, std::move(description)));
  }
  if (!desktop) return "";
  desktop->screens().list = std::move(screens);
  desktop->screens().mainIndex = 0;
  return "";
}

Value screensState(SimDesktop& desktop) {
  ValueList list;
  for (const auto& screen : desktop.screens().list) {
    const Rect f = screen->frame();
    list.emplace_back(ValueMap{{"frame", numberList({f.x, f.y, f.width, f.height})},
                               {"scale", screen->backingScaleFactor()},
                               {"deviceDescription", Value(screen->deviceDescription())}});
  }
  return Value(std::move(list));
}

std::string loadCapture(const Value& value, SimDesktop* desktop) {
  const ValueMap* map = value.asMap();
  if (!map) return "capture: expected a map";
  SimScreenCapture::Behaviour b;
  bool contextsFail = false;
  for (const auto& [keyValue, v] : *map) {
    const std::string* key = keyValue.asString();
    if (!key) return "capture: keys are strings";
    auto optionalText = [&](std::optional<std::string>& out) -> bool {
      if (v.isNull()) return true;
      if (!v.asString()) return false;
      out = *v.asString();
      return true;
    };
    auto flag = [&](bool& out) -> bool {
      if (!v.asBool()) return false;
      out = *v.asBool();
      return true;
    };
    bool ok = true;
    if (*key == "shareableContentError") {
      ok = optionalText(b.shareableContentError);
    } else if (*key == "shareableContentGivesNothing") {
      ok = flag(b.shareableContentGivesNothing);
    } else if (*key == "unshareableDisplays") {
      const ValueList* ids = v.asList();
      ok = ids != nullptr;
      for (size_t i = 0; ok && i < ids->size(); ++i) {
        ok = (*ids)[i].asInt().has_value();
        if (!ok) break;
        std::string error;
        auto id =
            boundedInteger((*ids)[i], "capture: unshareableDisplays[" + std::to_string(i) + "]", 0,
                           kMaxDisplayId, error);
        if (!id) return error;
        b.unshareableDisplays.insert(static_cast<uint32_t>(*id));
      }
    } else if (*key == "screenshotError") {
      ok = optionalText(b.screenshotError);
    } else if (*key == "screenshotGivesNothing") {
      ok = flag(b.screenshotGivesNothing);
    } else if (*key == "screenshotWarning") {
      ok = optionalText(b.screenshotWarning);
    } else if (*key == "legacyGivesNothing") {
      ok = flag(b.legacyGivesNothing);
    } else if (*key == "bitmapContextFails") {
      ok = flag(contextsFail);
    } else if (*key == "imageFormat") {
      const std::string* f = v.asString();
      if (v.isNull()) {
        b.imageFormat.reset();
      } else if (f && *f == "bgra") {
        b.imageFormat = PixelFormat::kBGRAPremultiplied;
      } else if (f && *f == "bgrx") {
        b.imageFormat = PixelFormat::kBGRX;
      } else if (f && *f == "rgba") {
        b.imageFormat = PixelFormat::kRGBAStraight;
      } else {
        ok = false;
      }
    } else {
      return "capture: unknown switch \"" + *key + "\"";
    }
    if (!ok) return "capture: bad value for \"" + *key + "\"";
  }
  if (!desktop) return "";
  desktop->screenCapture().behaviour = std::move(b);
  desktop->graphics().failBitmapContexts = contextsFail;
  return "";
}

Value captureState(SimDesktop& desktop) {
  const SimScreenCapture::Behaviour& b = desktop.screenCapture().behaviour;
  auto text = [](const std::optional<std::string>& s) { return s ? Value(*s) : Value(); };
  ValueList unshareable;
  for (uint32_t id : b.unshareableDisplays) unshareable.emplace_back(static_cast<int64_t>(id));
  Value format;
  if (b.imageFormat == PixelFormat::kBGRAPremultiplied) format = Value("bgra");
  if (b.imageFormat == PixelFormat::kBGRX) format = Value("bgrx");
  if (b.imageFormat == PixelFormat::kRGBAStraight) format = Value("rgba");
  ValueList requests;
  for (const auto& r : desktop.screenCapture().requests()) {
    static const char* const kKinds[] = {"shareableContent", "screenshot", "displayImage",
                                         "windowListImage"};
    ValueMap m{{"kind", kKinds[static_cast<int>(r.kind)]}};
    if (r.kind == SimScreenCapture::Request::Kind::kScreenshot) {
      ValueList excluded;
      for (uint32_t w : r.excludedWindows) excluded.emplace_back(static_cast<int64_t>(w));
      m.set("displayId", Value(static_cast<int64_t>(r.displayID)));
      m.set("excludedWindows", Value(std::move(excluded)));
      m.set("width", Value(r.configuration.width));
      m.set("height", Value(r.configuration.height));
    } else if (r.kind == SimScreenCapture::Request::Kind::kDisplayImage) {
      m.set("displayId", Value(static_cast<int64_t>(r.displayID)));
    } else if (r.kind == SimScreenCapture::Request::Kind::kWindowListImage) {
      m.set("bounds", numberList({r.bounds.x, r.bounds.y, r.bounds.width, r.bounds.height}));
      m.set("windowId", Value(static_cast<int64_t>(r.windowID)));
    }
    requests.emplace_back(std::move(m));
  }
  return Value(ValueMap{{"shareableContentError", text(b.shareableContentError)},
                        {"shareableContentGivesNothing", b.shareableContentGivesNothing},
                        {"unshareableDisplays", Value(std::move(unshareable))},
                        {"screenshotError", text(b.screenshotError)},
                        {"screenshotGivesNothing", b.screenshotGivesNothing},
                        {"screenshotWarning", text(b.screenshotWarning)},
                        {"legacyGivesNothing", b.legacyGivesNothing},
                        {"bitmapContextFails", desktop.graphics().failBitmapContexts},
                        {"imageFormat", format},
                        {"requests", Value(std::move(requests))}});
}

const SectionRegistrar kScreens{checkedSection("screens", loadScreens, screensState, 10)};

const SectionRegistrar kMainScreen{checkedSection(
    "mainScreen",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      if (!v.isNull() && !v.asInt()) return "mainScreen: an index into screens, or null";
      if (!desktop) return "";
      if (v.isNull()) {
        desktop->screens().mainIndex = -1;
        return "";
      }
      // An index out of range means no main screen.
      const int64_t i = *v.asInt();
      desktop->screens().mainIndex =
          i < 0 || i >= static_cast<int64_t>(desktop->screens().list.size()) ? -1
                                                                             : static_cast<int>(i);
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      return desktop.screens().mainScreen() ? Value(desktop.screens().mainIndex) : Value();
    },
    11)};

const SectionRegistrar kPointer{checkedSection(
    "pointer",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      if (!numbers(v, 2)) return "pointer: expected [x, y]";
      std::string error;
      const ValueList& xy = *v.asList();
      auto x = boundedNumber(xy[0], "pointer x", -kMaxCoordinate, kMaxCoordinate, false, error);
      auto y = x ? boundedNumber(xy[1], "pointer y", -kMaxCoordinate, kMaxCoordinate, false, error)
                 : std::nullopt;
      if (!y) return error;
      if (desktop) desktop->input().pointer = {*x, *y};
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      return numberList({desktop.input().pointer.x, desktop.input().pointer.y});
    })};

const SectionRegistrar kPressedButtons{checkedSection(
    "pressedButtons",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      if (!v.asInt() || *v.asInt() < 0) return "pressedButtons: a non-negative integer bit set";
      if (desktop) desktop->input().buttons = static_cast<uint64_t>(*v.asInt());
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      return Value(static_cast<int64_t>(desktop.input().buttons));
    })};

const SectionRegistrar kWindows{checkedSection(
    "windows",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      // Entries stay raw: malformed ones are part of what a scenario may say.
      if (!v.asList()) return "windows: expected a list of window entries";
      if (desktop) desktop->windowList().entries = *v.asList();
      return "";
    },
    [](SimDesktop& desktop) -> Value { return Value(desktop.windowList().entries); }, 20)};

const SectionRegistrar kWindowListUnreadable{checkedSection(
    "windowListUnreadable",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      if (!v.asBool()) return "windowListUnreadable: expected a boolean";
      if (desktop) desktop->windowList().unreadable = *v.asBool();
      return "";
    },
    [](SimDesktop& desktop) -> Value { return Value(desktop.windowList().unreadable); })};

const SectionRegistrar kFrontmostPid{checkedSection(
    "frontmostPid",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      std::optional<int64_t> pid;
      if (!v.isNull()) {
        if (!v.asInt()) return "frontmostPid: an integer or null";
        std::string error;
        pid = boundedInteger(v, "frontmostPid", INT_MIN, INT_MAX, error);
        if (!pid) return error;
      }
      if (!desktop) return "";
      if (pid) {
        desktop->workspace().frontmostPid = static_cast<int>(*pid);
      } else {
        desktop->workspace().frontmostPid.reset();
      }
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      auto pid = desktop.workspace().frontmostPid;
      return pid ? Value(*pid) : Value();
    })};

// Each part of a version from 0 to this.
constexpr int64_t kMaxVersionPart = 999999;

const SectionRegistrar kOsVersion{checkedSection(
    "osVersion",
    [](const Value& v, SimDesktop* desktop) -> std::string {
      const ValueList* list = v.asList();
      if (!list || list->empty() || list->size() > 3) return "osVersion: [major, minor, patch]";
      int parts[3] = {0, 0, 0};
      for (size_t i = 0; i < list->size(); ++i) {
        if (!(*list)[i].asInt()) return "osVersion: [major, minor, patch]";
        std::string error;
        auto part = boundedInteger((*list)[i], "osVersion[" + std::to_string(i) + "]", 0,
                                   kMaxVersionPart, error);
        if (!part) return error;
        parts[i] = static_cast<int>(*part);
      }
      if (desktop) desktop->processInfo().osVersion = {parts[0], parts[1], parts[2]};
      return "";
    },
    [](SimDesktop& desktop) -> Value {
      const OperatingSystemVersion& v = desktop.processInfo().osVersion;
      return Value(ValueList{Value(v.majorVersion), Value(v.minorVersion), Value(v.patchVersion)});
    })};

const SectionRegistrar kCapture{checkedSection("capture", loadCapture, captureState)};

// The user moves the pointer: {"x", "y"} in global bottom-left points.
const ActionRegistrar kMovePointer{
    {"movePointer", [](const Value& args, SimDesktop& desktop, FlutterResult result) {
       const Value* x = args.at("x");
       const Value* y = args.at("y");
       if (!x || !y || !number(*x) || !number(*y)) {
         result(FlutterError::errorWithCode("bad_args", "x and y expected"));
         return;
       }
       std::string error;
       auto nx = boundedNumber(*x, "x", -kMaxCoordinate, kMaxCoordinate, false, error);
       auto ny = nx ? boundedNumber(*y, "y", -kMaxCoordinate, kMaxCoordinate, false, error)
                    : std::nullopt;
       if (!ny) {
         result(FlutterError::errorWithCode("bad_args", error));
         return;
       }
       desktop.input().pointer = {*nx, *ny};
       // Moving the mouse shows a pointer hidden until it moves.
       desktop.input().cursorHiddenUntilMoved = false;
       result(Value());
     }}};

}  // namespace
}  // namespace dravel::sim
