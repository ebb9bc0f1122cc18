#include "host/save_folder.h"

#include "host/base64.h"
#include "platform/seam/platform.h"
#include "platform/shared/url.h"

namespace dravel::SaveFolder {
namespace {

// The folder whose access this process has opened and not yet closed. Touched
// only on the main thread.
struct OpenFolder {
  std::string path;
  // Whether the platform opened access. Access is stopped only when its start
  // succeeded: starts and stops are counted in pairs by the platform, and a
  // stop without its start would close an access that another holder opened.
  // A folder whose start failed is still the accessed folder.
  bool started = false;
};
std::optional<OpenFolder> gAccessed;

// The bookmark text of a folder; absent when its bookmark cannot be created.
std::optional<std::string> bookmarkText(const std::string& path) {
  std::optional<ByteBuffer> data = platform().bookmarks().createBookmark(path);
  if (!data) return std::nullopt;
  return base64Encode(*data);
}

void closeAccessed() {
  if (gAccessed && gAccessed->started) {
    platform().securityScopedAccess().stopAccessing(gAccessed->path);
  }
  gAccessed.reset();
}

}  // namespace

void pick(std::optional<std::string> initialDirectory, FlutterResult result) {
  OpenPanelConfiguration panel;
  panel.canChooseDirectories = true;
  panel.canChooseFiles = false;
  panel.canCreateDirectories = true;
  panel.allowsMultipleSelection = false;
  if (initialDirectory) {
    std::string url = fileURLWithPath(*initialDirectory);
    if (!url.ends_with('/')) url += '/';
    panel.directoryURL = std::move(url);
  }
  platform().application().activateIgnoringOtherApps(true);
  // A panel asked for by a client that has gone is closed: nobody would read
  // the folder chosen in it. The reply (null, as for a cancel) then goes
  // nowhere, and nothing is made of the folder.
  std::shared_ptr<Requester> requester = result.requester();
  auto watch = std::make_shared<uint64_t>(0);
  const uint64_t id =
      platform().openPanel().begin(panel, [result = std::move(result), requester, watch](
                                              int response, std::optional<std::string> path) {
        if (requester && *watch != 0) requester->removeOnGone(*watch);
        *watch = 0;
        if (response != kModalResponseOK || !path || (requester && requester->gone())) {
          result(Value());
          return;
        }
        ValueMap reply{{"path", Value(*path)}};
        if (std::optional<std::string> bookmark = bookmarkText(*path)) {
          reply.set("bookmark", Value(std::move(*bookmark)));
        }
        result(Value(std::move(reply)));
      });
  if (requester) {
    *watch = requester->onGone([id] { platform().openPanel().cancel(id); });
  }
}

void beginAccess(std::optional<std::string> bookmark, FlutterResult result) {
  if (!bookmark) {
    result(FlutterError::errorWithCode("bad_bookmark"));
    return;
  }
  std::optional<ByteBuffer> data = base64Decode(*bookmark);
  if (!data) {
    result(FlutterError::errorWithCode("bad_bookmark"));
    return;
  }
  std::variant<ResolvedBookmark, BookmarkError> resolution =
      platform().bookmarks().resolveBookmark(*data);
  if (auto* error = std::get_if<BookmarkError>(&resolution)) {
    // The folder open so far stays open.
    result(FlutterError::errorWithCode("unresolved", error->localizedDescription));
    return;
  }
  const ResolvedBookmark& folder = std::get<ResolvedBookmark>(resolution);

  closeAccessed();
  const bool started = platform().securityScopedAccess().startAccessing(folder.path);
  gAccessed = OpenFolder{folder.path, started};

  ValueMap reply{{"path", Value(folder.path)}, {"stale", Value(folder.stale)}};
  if (folder.stale) {
    if (std::optional<std::string> fresh = bookmarkText(folder.path)) {
      reply.set("bookmark", Value(std::move(*fresh)));
    }
  }
  result(Value(std::move(reply)));
}

void endAccess() {
  closeAccessed();
}

std::optional<std::string> accessed() {
  return gAccessed ? std::optional<std::string>(gAccessed->path) : std::nullopt;
}

void resetForTesting() {
  gAccessed.reset();
}

}  // namespace dravel::SaveFolder
