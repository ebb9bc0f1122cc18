#include "platform/linux/session/linux_bookmarks.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/session/linux_process_info.h"
#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {
namespace {

constexpr uint8_t kMagic[4] = {'D', 'L', 'B', 'K'};
// Magic, version, device, inode and path length.
constexpr size_t kHeaderSize = 4 + 1 + 8 + 8 + 4;
constexpr size_t kChecksumSize = 4;

constexpr uint8_t kDocumentMagic[4] = {'D', 'L', 'D', 'P'};
constexpr const char* kDocuments = "org.freedesktop.portal.Documents";
constexpr const char* kDocumentsPath = "/org/freedesktop/portal/documents";
constexpr int kDocumentsTimeoutMs = 5000;
// AddFull's flags: reuse an existing document, keep it across sessions,
// export a folder.
constexpr guint32 kAddFlags = 1 | 2 | 8;

const char* const kNotARecord = "The bookmark data isn't in the correct format.";
const char* const kUnknownVersion = "The bookmark data was made by an unknown version.";

uint32_t crc32(const uint8_t* bytes, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void appendBigEndian(ByteBuffer& out, uint64_t value, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

uint64_t readBigEndian(const ByteBuffer& data, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | data[at + static_cast<size_t>(i)];
  return value;
}

// The folder at the path, following links; absent when it is not a folder.
std::optional<struct stat> folderAt(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return info;
}

std::string folderGone(const std::string& path) {
  std::string text = "The folder \"";
  text += path;
  text += "\" couldn't be found.";
  return text;
}

// One call to the document portal; null with `why` when it fails.
GVariant* callDocuments(const char* method, GVariant* parameters, const char* replyType,
                        std::string* why, GUnixFDList* fds = nullptr) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  GVariant* reply = nullptr;
  if (bus) {
    reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kDocuments, kDocumentsPath, kDocuments, method, parameters, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NONE, kDocumentsTimeoutMs, fds, nullptr, nullptr, &error);
    g_object_unref(bus);
  } else if (parameters) {
    g_variant_unref(g_variant_ref_sink(parameters));
  }
  if (!reply) {
    *why = busErrorText(error);
    g_clear_error(&error);
  }
  return reply;
}

// Where the document portal mounts its documents; empty when it does not
// answer.
std::string documentMount() {
  std::string why;
  GVariant* reply = callDocuments("GetMountPoint", nullptr, "(ay)", &why);
  if (!reply) return {};
  const gchar* mount = nullptr;
  g_variant_get(reply, "(^&ay)", &mount);
  std::string path = mount ? mount : "";
  g_variant_unref(reply);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void appendText(ByteBuffer& out, const std::string& text) {
  appendBigEndian(out, text.size(), 4);
  out.insert(out.end(), text.begin(), text.end());
}

// A text at `at` as appendText wrote it, moving `at` past it; absent when
// it runs past `end`.
std::optional<std::string> readText(const ByteBuffer& data, size_t& at, size_t end) {
  if (end - at < 4) return std::nullopt;
  const uint64_t length = readBigEndian(data, at, 4);
  at += 4;
  if (end - at < length) return std::nullopt;
  std::string text(data.begin() + static_cast<ptrdiff_t>(at),
                   data.begin() + static_cast<ptrdiff_t>(at + length));
  at += length;
  return text;
}

// A path under the document portal's mount: the document id and the path
// under it; absent for another path.
std::optional<std::pair<std::string, std::string>> underDocument(const std::string& path,
                                                                 const std::string& mount) {
  if (mount.empty() || !path.starts_with(mount + "/")) return std::nullopt;
  std::string rest = path.substr(mount.size() + 1);
  const size_t slash = rest.find('/');
  if (slash == 0 || slash == std::string::npos || slash + 1 == rest.size()) return std::nullopt;
  // The portal's own views (by-app/) are not documents.
  if (rest.compare(0, slash, "by-app") == 0) return std::nullopt;
  return std::make_pair(rest.substr(0, slash), rest.substr(slash + 1));
}

}  // namespace

LinuxBookmarks::LinuxBookmarks() : sandboxed_(runningInFlatpak()) {}

ByteBuffer documentRecord(const std::string& documentId, const std::string& pathUnder,
                          uint8_t version) {
  ByteBuffer data(kDocumentMagic, kDocumentMagic + 4);
  data.push_back(version);
  appendText(data, documentId);
  appendText(data, pathUnder);
  appendBigEndian(data, crc32(data.data(), data.size()), 4);
  return data;
}

std::optional<ByteBuffer> LinuxBookmarks::createDocumentBookmark(const std::string& path) {
  if (!folderAt(path)) return std::nullopt;
  const std::string mount = documentMount();
  if (mount.empty()) return std::nullopt;
  if (auto document = underDocument(path, mount)) {
    return documentRecord(document->first, document->second);
  }
  // A folder the sandbox sees outside the portal: made a document first.
  const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return std::nullopt;
  GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1);
  const gchar* permissions[] = {"read", "write", nullptr};
  GVariantBuilder handles;
  g_variant_builder_init(&handles, G_VARIANT_TYPE("ah"));
  g_variant_builder_add(&handles, "h", 0);
  std::string why;
  GVariant* reply =
      callDocuments("AddFull", g_variant_new("(ahus^as)", &handles, kAddFlags, "", permissions),
                    "(asa{sv})", &why, fds);
  g_object_unref(fds);
  if (!reply) return std::nullopt;
  const gchar** ids = nullptr;
  g_variant_get(reply, "(^a&s@a{sv})", &ids, nullptr);
  std::optional<ByteBuffer> record;
  if (ids && ids[0] && *ids[0]) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (!name.empty()) record = documentRecord(ids[0], name);
  }
  g_free(ids);
  g_variant_unref(reply);
  return record;
}

std::variant<ResolvedBookmark, BookmarkError> LinuxBookmarks::resolveDocumentBookmark(
    const ByteBuffer& data) {
  if (data.size() < 5 || !std::equal(kDocumentMagic, kDocumentMagic + 4, data.begin())) {
    return BookmarkError{kNotARecord};
  }
  if (data[4] != kRecordVersion) return BookmarkError{kUnknownVersion};
  if (data.size() < 5 + kChecksumSize) return BookmarkError{kNotARecord};
  const size_t body = data.size() - kChecksumSize;
  if (readBigEndian(data, body, 4) != crc32(data.data(), body)) return BookmarkError{kNotARecord};
  size_t at = 5;
  std::optional<std::string> id = readText(data, at, body);
  std::optional<std::string> under = id ? readText(data, at, body) : std::nullopt;
  if (!under || at != body || id->empty() || id->find('/') != std::string::npos || under->empty() ||
      under->starts_with('/') || id->find('\0') != std::string::npos ||
      under->find('\0') != std::string::npos ||
      ("/" + *under + "/").find("/../") != std::string::npos) {
    return BookmarkError{kNotARecord};
  }
  // Inside the sandbox the portal answers for its documents through its
  // mount: a document it no longer keeps (removed, or never granted to the
  // application) is not there.
  const std::string mount = documentMount();
  if (mount.empty()) return BookmarkError{"The document portal does not answer."};
  const std::string document = mount + "/" + *id;
  struct stat info {};
  if (::stat(document.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return BookmarkError{"The folder's document " + *id +
                         " is no longer kept by the document portal."};
  }
  const std::string path = document + "/" + *under;
  if (!folderAt(path)) return BookmarkError{folderGone(path)};
  return ResolvedBookmark{path, false};
}

ByteBuffer folderRecord(const std::string& path, uint64_t device, uint64_t inode, uint8_t version) {
  ByteBuffer data(kMagic, kMagic + 4);
  data.push_back(version);
  appendBigEndian(data, device, 8);
  appendBigEndian(data, inode, 8);
  appendBigEndian(data, path.size(), 4);
  data.insert(data.end(), path.begin(), path.end());
  appendBigEndian(data, crc32(data.data(), data.size()), 4);
  return data;
}

std::optional<ByteBuffer> LinuxBookmarks::createBookmark(const std::string& path) {
  if (sandboxed_ && path.starts_with('/') && path.find('\0') == std::string::npos &&
      path.size() <= UINT32_MAX) {
    return createDocumentBookmark(path);
  }
  if (sandboxed_ || !path.starts_with('/') || path.find('\0') != std::string::npos ||
      path.size() > UINT32_MAX) {
    return std::nullopt;
  }
  std::optional<struct stat> folder = folderAt(path);
  if (!folder) return std::nullopt;
  return folderRecord(path, folder->st_dev, folder->st_ino);
}

std::variant<ResolvedBookmark, BookmarkError> LinuxBookmarks::resolveBookmark(
    const ByteBuffer& data) {
  if (sandboxed_) return resolveDocumentBookmark(data);
  if (data.size() < 5 || !std::equal(kMagic, kMagic + 4, data.begin())) {
    return BookmarkError{kNotARecord};
  }
  // A later version may lay the rest out differently: only its number is read.
  if (data[4] != kRecordVersion) return BookmarkError{kUnknownVersion};
  if (data.size() < kHeaderSize + kChecksumSize) return BookmarkError{kNotARecord};
  const uint64_t length = readBigEndian(data, 21, 4);
  if (data.size() - kHeaderSize - kChecksumSize != length) return BookmarkError{kNotARecord};
  const size_t body = data.size() - kChecksumSize;
  if (readBigEndian(data, body, 4) != crc32(data.data(), body)) return BookmarkError{kNotARecord};
  std::string path(data.begin() + kHeaderSize, data.begin() + static_cast<ptrdiff_t>(body));
  if (!path.starts_with('/') || path.find('\0') != std::string::npos) {
    return BookmarkError{kNotARecord};
  }

  std::optional<struct stat> folder = folderAt(path);
  if (!folder) return BookmarkError{folderGone(path)};
  const bool same = static_cast<uint64_t>(folder->st_dev) == readBigEndian(data, 5, 8) &&
                    static_cast<uint64_t>(folder->st_ino) == readBigEndian(data, 13, 8);
  return ResolvedBookmark{path, !same};
}

}  // namespace dravel::linux_platform
