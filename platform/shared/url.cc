#include "platform/shared/url.h"

#include <filesystem>
#include <system_error>

namespace dravel {
namespace {

bool keptAsIs(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

// A relative path is resolved against the current directory; an empty one
// names the current directory itself. Dot segments are left as written.
std::string absolutePath(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::error_code error;
  std::string absolute = std::filesystem::current_path(error).string();
  if (error) absolute.clear();  // The directory is gone; resolve against root.
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  return absolute + path;
}

}  // namespace

std::string fileURLWithPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string absolute = absolutePath(path);
  std::string url = "file://";
  url.reserve(url.size() + absolute.size() * 3);
  for (const char ch : absolute) {
    const auto c = static_cast<unsigned char>(ch);
    if (keptAsIs(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0f];
    }
  }
  return url;
}

}  // namespace dravel
