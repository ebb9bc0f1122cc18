#include "platform/sim/sim_bookmarks.h"

#include <algorithm>
#include <array>

#include "platform/sim/scenario_registry.h"
#include "platform/sim/sim_desktop.h"

namespace dravel::sim {
namespace {

constexpr char kMagic[4] = {'D', 'B', 'M', 'K'};
constexpr size_t kHeaderSize = 9;

}  // namespace

ByteBuffer SimBookmarks::record(const std::string& path, uint8_t version) {
  ByteBuffer data(kMagic, kMagic + 4);
  data.push_back(version);
  const auto length = static_cast<uint32_t>(path.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    data.push_back(static_cast<uint8_t>(length >> shift));
  data.insert(data.end(), path.begin(), path.end());
  return data;
}

std::optional<ByteBuffer> SimBookmarks::createBookmark(const std::string& path) {
  if (path.empty() || uncreatable.count(path)) return std::nullopt;
  created.push_back(path);
  return record(path);
}

std::variant<ResolvedBookmark, BookmarkError> SimBookmarks::resolveBookmark(
    const ByteBuffer& data) {
  ++resolutions;
  if (data.size() < kHeaderSize || !std::equal(kMagic, kMagic + 4, data.begin())) {
    return BookmarkError{"The bookmark data isn't in the correct format."};
  }
  if (data[4] != kRecordVersion) {
    return BookmarkError{"The bookmark data was made by an unknown version."};
  }
  uint32_t length = 0;
  for (size_t i = 5; i < kHeaderSize; ++i) length = (length << 8) | data[i];
  if (length == 0 || data.size() - kHeaderSize != length) {
    return BookmarkError{"The bookmark data isn't in the correct format."};
  }
  std::string path(data.begin() + kHeaderSize, data.end());
  if (unresolvable.count(path)) {
    return BookmarkError{"The folder \"" + path + "\" couldn't be found."};
  }
  return ResolvedBookmark{path, stale.count(path) > 0};
}

bool SimSecurityScopedAccess::startAccessing(const std::string& path) {
  Counts& c = counts[path];
  ++c.starts;
  if (refused.count(path)) return false;
  ++c.grants;
  return true;
}

void SimSecurityScopedAccess::stopAccessing(const std::string& path) {
  ++counts[path].stops;
}

bool SimSecurityScopedAccess::isOpen(const std::string& path) const {
  Counts c = countsFor(path);
  return c.grants > c.stops;
}

std::vector<std::string> SimSecurityScopedAccess::openFolders() const {
  std::vector<std::string> out;
  for (const auto& [path, c] : counts)
    if (c.grants > c.stops) out.push_back(path);
  return out;
}

SimSecurityScopedAccess::Counts SimSecurityScopedAccess::countsFor(const std::string& path) const {
  auto it = counts.find(path);
  return it == counts.end() ? Counts{} : it->second;
}

namespace {

std::string readPathSet(const Value& section, const char* key, std::set<std::string>& out) {
  out.clear();
  const Value* value = section.at(key);
  if (!value) return {};
  const ValueList* list = value->asList();
  if (!list) return std::string(key) + ": expected a list of paths";
  for (const Value& item : *list) {
    const std::string* path = item.asString();
    if (!path) return std::string(key) + ": expected a list of paths";
    out.insert(*path);
  }
  return {};
}

Value pathList(const std::vector<std::string>& paths) {
  ValueList list;
  for (const auto& p : paths) list.push_back(Value(p));
  return Value(std::move(list));
}

// "bookmarks": {"uncreatable": [paths], "stale": [paths], "unresolvable": [paths],
// "refuseAccess": [paths]}. Loading it also forgets every access made so far.
const SectionRegistrar kBookmarksSection{checkedSection(
    "bookmarks",
    [](const Value& value, SimDesktop* desktop) -> std::string {
      if (!value.asMap()) return "expected a map";
      // Read everything first, so that a refused load changes nothing.
      constexpr std::array<const char*, 4> kKeys = {"uncreatable", "stale", "unresolvable",
                                                    "refuseAccess"};
      std::array<std::set<std::string>, 4> sets;
      for (size_t i = 0; i < kKeys.size(); ++i) {
        if (std::string error = readPathSet(value, kKeys[i], sets[i]); !error.empty()) return error;
      }
      if (!desktop) return {};
      SimBookmarks& bookmarks = desktop->bookmarks();
      SimSecurityScopedAccess& access = desktop->securityScopedAccess();
      bookmarks.uncreatable = std::move(sets[0]);
      bookmarks.stale = std::move(sets[1]);
      bookmarks.unresolvable = std::move(sets[2]);
      access.refused = std::move(sets[3]);
      bookmarks.created.clear();
      bookmarks.resolutions = 0;
      access.counts.clear();
      return {};
    },
    [](SimDesktop& desktop) -> Value {
      SimSecurityScopedAccess& access = desktop.securityScopedAccess();
      ValueMap counts;
      for (const auto& [path, c] : access.counts) {
        counts.set(path, ValueMap{{"starts", c.starts}, {"grants", c.grants}, {"stops", c.stops}});
      }
      return ValueMap{{"created", pathList(desktop.bookmarks().created)},
                      {"open", pathList(access.openFolders())},
                      {"access", Value(std::move(counts))}};
    })};

}  // namespace
}  // namespace dravel::sim
