#include "host/screen_recording_access.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/seam/platform.h"

namespace dravel::ScreenRecordingAccess {
namespace {

// Owners of system windows that every session has, whatever the permission.
const std::set<std::string, std::less<>> kSystemWindowOwners = {"Dock", "Window Server",
                                                                "WindowServer"};

constexpr uint32_t kWindowListOption =
    kWindowListOptionOnScreenOnly | kWindowListExcludeDesktopElements;

// The window list as a list of maps with string keys; absent when it cannot be
// read or has another shape.
std::optional<std::vector<const ValueMap*>> readWindowList(const Value& list) {
  const ValueList* entries = list.asList();
  if (!entries) return std::nullopt;
  std::vector<const ValueMap*> maps;
  maps.reserve(entries->size());
  for (const Value& entry : *entries) {
    const ValueMap* map = entry.asMap();
    if (!map || !map->hasStringKeys()) return std::nullopt;
    maps.push_back(map);
  }
  return maps;
}

std::optional<int64_t> intIn(const ValueMap& entry, const char* key) {
  const Value* value = entry.find(key);
  return value ? value->asInt() : std::nullopt;
}

const std::string* stringIn(const ValueMap& entry, const char* key) {
  const Value* value = entry.find(key);
  return value ? value->asString() : nullptr;
}

// The owner's process id: an integer that fits in 32 signed bits.
std::optional<int32_t> ownerPid(const ValueMap& entry) {
  std::optional<int64_t> pid = intIn(entry, kCGWindowOwnerPID);
  if (!pid || *pid < std::numeric_limits<int32_t>::min() ||
      *pid > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int32_t>(*pid);
}

// An address that a URL can be made from: a scheme (a letter, then letters,
// digits, "+", "-" or "."), a colon, and only characters that may stand in a URL.
bool isValidURL(std::string_view address) {
  const size_t colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (!isAlpha(address[0])) return false;
  for (char c : address.substr(0, colon)) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  constexpr std::string_view kOther = "-._~:/?#[]@!$&'()*+,;=%";
  return std::all_of(
      address.begin() + static_cast<std::ptrdiff_t>(colon) + 1, address.end(),
      [&](char c) { return isAlpha(c) || isDigit(c) || kOther.find(c) != std::string_view::npos; });
}

}  // namespace

std::optional<bool> windowNamesVisible() {
  std::optional<Value> list = platform().windowList().copyWindowInfo(kWindowListOption, 0);
  if (!list) return std::nullopt;
  std::optional<std::vector<const ValueMap*>> entries = readWindowList(*list);
  if (!entries) return std::nullopt;
  const int ownPid = platform().processInfo().processIdentifier();
  if (entries->empty()) return std::nullopt;

  int considered = 0;
  for (const ValueMap* entry : *entries) {
    std::optional<int32_t> pid = ownerPid(*entry);
    if (!pid || *pid == ownPid) continue;
    if (intIn(*entry, kCGWindowLayer) != int64_t{0}) continue;
    const std::string* owner = stringIn(*entry, kCGWindowOwnerName);
    if (!owner || kSystemWindowOwners.count(*owner)) continue;
    ++considered;
    const std::string* name = stringIn(*entry, kCGWindowName);
    if (name && !name->empty()) return true;
  }
  if (considered == 0) return std::nullopt;
  return false;
}

bool isPromptVisible() {
  std::set<int32_t> agentPids;
  for (const RunningApplication& app : platform().runningApplications().runningApplications()) {
    if (app.bundleIdentifier == kPromptAgentBundleIdentifier)
      agentPids.insert(app.processIdentifier);
  }
  if (agentPids.empty()) return false;
  std::optional<Value> list = platform().windowList().copyWindowInfo(kWindowListOption, 0);
  if (!list) return false;
  std::optional<std::vector<const ValueMap*>> entries = readWindowList(*list);
  if (!entries) return false;
  return std::any_of(entries->begin(), entries->end(), [&](const ValueMap* entry) {
    std::optional<int32_t> pid = ownerPid(*entry);
    return pid && agentPids.count(*pid);
  });
}

void openSettings() {
  Workspace& workspace = platform().workspace();
  if (isValidURL(kFirstSettingsAddress) && workspace.openURL(kFirstSettingsAddress)) return;
  if (isValidURL(kSecondSettingsAddress)) workspace.openURL(kSecondSettingsAddress);
}

}  // namespace dravel::ScreenRecordingAccess
