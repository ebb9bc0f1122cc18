#include "platform/linux/session/linux_bookmarks.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace dravel::linux_platform {
namespace {

constexpr uint8_t kMagic[4] = {'D', 'L', 'B', 'K'};
// Magic, version, device, inode and path length.
constexpr size_t kHeaderSize = 4 + 1 + 8 + 8 + 4;
constexpr size_t kChecksumSize = 4;

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

}  // namespace

LinuxBookmarks::LinuxBookmarks() : sandboxed_(std::getenv("FLATPAK_ID") != nullptr) {}

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
  if (sandboxed_) return BookmarkError{"Folder bookmarks are not available inside the sandbox."};
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
