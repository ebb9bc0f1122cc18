// Scenario sections and simulated actions of the screens, the pointer, the
// window list, the frontmost application, the system version and the
// capture engines.
#include <cmath>
#include <string>

#include "platform/sim/scenario_registry.h"
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

std::string loadScreens(const Value& value, SimDesktop& desktop) {
  const ValueList* list = value.asList();
  if (!list) return "screens: expected a list";
  std::vector<std::shared_ptr<SimScreen>> screens;
  for (const Value& item : *list) {
    const ValueMap* map = item.asMap();
    if (!map) return "screens: every screen is a map";
    const Value* frameValue = map->find("frame");
    auto frame = frameValue ? numbers(*frameValue, 4) : std::nullopt;
    if (!frame) return "screens: \"frame\" must be [x, y, width, height]";
    double scale = 1.0;
    if (const Value* s = map->find("scale")) {
      auto n = number(*s);
      if (!n || !(*n > 0)) return "screens: \"scale\" must be a positive number";
      scale = *n;
    }
    ValueMap description;
    if (const Value* d = map->find("deviceDescription")) {
      if (!d->asMap()) return "screens: \"deviceDescription\" must be a map";
      description = *d->asMap();
    } else if (const Value* id = map->find("displayId")) {
      if (!id->asInt()) return "screens: \"displayId\" must be an integer";
      description.set("NSScreenNumber", *id);
    } else {
      return "screens: each screen needs \"displayId\" or \"deviceDescription\"";
    }
    screens.push_back(std::make_shared<SimScreen>(
        Rect{(*frame)[0], (*frame)[1], (*frame)[2], (*frame)[3]}, scale, std::move(description)));
  }
  desktop.screens().list = std::move(screens);
  desktop.screens().mainIndex = 0;
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

std::string loadCapture(const Value& value, SimDesktop& desktop) {
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
        if (ok) b.unshareableDisplays.insert(static_cast<uint32_t>(*(*ids)[i].asInt()));
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
  desktop.screenCapture().behaviour = std::move(b);
  desktop.graphics().failBitmapContexts = contextsFail;
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

const SectionRegistrar kScreens{{"screens", loadScreens, screensState, 10}};

const SectionRegistrar kMainScreen{
    {"mainScreen",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       if (v.isNull()) {
         desktop.screens().mainIndex = -1;
         return "";
       }
       if (!v.asInt()) return "mainScreen: an index into screens, or null";
       const int64_t i = *v.asInt();
       desktop.screens().mainIndex =
           i < 0 || i >= static_cast<int64_t>(desktop.screens().list.size()) ? -1
                                                                             : static_cast<int>(i);
       return "";
     },
     [](SimDesktop& desktop) -> Value {
       return desktop.screens().mainScreen() ? Value(desktop.screens().mainIndex) : Value();
     },
     11}};

const SectionRegistrar kPointer{
    {"pointer",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       auto xy = numbers(v, 2);
       if (!xy) return "pointer: expected [x, y]";
       desktop.input().pointer = {(*xy)[0], (*xy)[1]};
       return "";
     },
     [](SimDesktop& desktop) -> Value {
       return numberList({desktop.input().pointer.x, desktop.input().pointer.y});
     }}};

const SectionRegistrar kPressedButtons{
    {"pressedButtons",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       if (!v.asInt() || *v.asInt() < 0) return "pressedButtons: a non-negative integer bit set";
       desktop.input().buttons = static_cast<uint64_t>(*v.asInt());
       return "";
     },
     [](SimDesktop& desktop) -> Value {
       return Value(static_cast<int64_t>(desktop.input().buttons));
     }}};

const SectionRegistrar kWindows{
    {"windows",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       // Entries stay raw: malformed ones are part of what a scenario may say.
       if (!v.asList()) return "windows: expected a list of window entries";
       desktop.windowList().entries = *v.asList();
       return "";
     },
     [](SimDesktop& desktop) -> Value { return Value(desktop.windowList().entries); }, 20}};

const SectionRegistrar kWindowListUnreadable{
    {"windowListUnreadable",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       if (!v.asBool()) return "windowListUnreadable: expected a boolean";
       desktop.windowList().unreadable = *v.asBool();
       return "";
     },
     [](SimDesktop& desktop) -> Value { return Value(desktop.windowList().unreadable); }}};

const SectionRegistrar kFrontmostPid{{"frontmostPid",
                                      [](const Value& v, SimDesktop& desktop) -> std::string {
                                        if (v.isNull()) {
                                          desktop.workspace().frontmostPid.reset();
                                          return "";
                                        }
                                        if (!v.asInt()) return "frontmostPid: an integer or null";
                                        desktop.workspace().frontmostPid =
                                            static_cast<int>(*v.asInt());
                                        return "";
                                      },
                                      [](SimDesktop& desktop) -> Value {
                                        auto pid = desktop.workspace().frontmostPid;
                                        return pid ? Value(*pid) : Value();
                                      }}};

const SectionRegistrar kOsVersion{
    {"osVersion",
     [](const Value& v, SimDesktop& desktop) -> std::string {
       const ValueList* list = v.asList();
       if (!list || list->empty() || list->size() > 3) return "osVersion: [major, minor, patch]";
       int parts[3] = {0, 0, 0};
       for (size_t i = 0; i < list->size(); ++i) {
         if (!(*list)[i].asInt()) return "osVersion: [major, minor, patch]";
         parts[i] = static_cast<int>(*(*list)[i].asInt());
       }
       desktop.processInfo().osVersion = {parts[0], parts[1], parts[2]};
       return "";
     },
     [](SimDesktop& desktop) -> Value {
       const OperatingSystemVersion& v = desktop.processInfo().osVersion;
       return Value(ValueList{Value(v.majorVersion), Value(v.minorVersion), Value(v.patchVersion)});
     }}};

const SectionRegistrar kCapture{{"capture", loadCapture, captureState}};

// The user moves the pointer: {"x", "y"} in global bottom-left points.
const ActionRegistrar kMovePointer{
    {"movePointer", [](const Value& args, SimDesktop& desktop, FlutterResult result) {
       const Value* x = args.at("x");
       const Value* y = args.at("y");
       auto nx = x ? number(*x) : std::nullopt;
       auto ny = y ? number(*y) : std::nullopt;
       if (!nx || !ny) {
         result(FlutterError::errorWithCode("bad_args", "x and y expected"));
         return;
       }
       desktop.input().pointer = {*nx, *ny};
       // Moving the mouse shows a pointer hidden until it moves.
       desktop.input().cursorHiddenUntilMoved = false;
       result(Value());
     }}};

}  // namespace
}  // namespace dravel::sim
