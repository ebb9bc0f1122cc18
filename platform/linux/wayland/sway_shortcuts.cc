#include "platform/linux/wayland/sway_shortcuts.h"

#include <gdk/gdk.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#include <wordexp.h>

#include <sys/stat.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include "channels/log.h"
#include "platform/linux/wayland/sway_ipc.h"

namespace dravel::linux_platform {
namespace {

std::string trimmed(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(begin, end - begin + 1));
}

std::string lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Words split at blanks, quotes grouping (and removed), as sway splits a
// command's arguments.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        word += c;
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

// The lines of a file, continued lines joined, blank lines and comments
// dropped.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string pending;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == '\\') {
      line.pop_back();
      pending += line;
      continue;
    }
    line = trimmed(pending + line);
    pending.clear();
    if (line.empty() || line[0] == '#') continue;
    lines.push_back(std::move(line));
  }
  if (!trimmed(pending).empty()) lines.push_back(trimmed(pending));
  return lines;
}

void logOnce(bool& said, const char* line) {
  if (said) return;
  said = true;
  NSLog("%s", line);
}

class ConfigReader {
 public:
  SwayBindings result;

  void file(const std::string& text, const std::string& path, int depth) {
    ++result.files;
    const std::string folder = folderOf(path);
    const std::vector<std::string> lines = linesOf(text);
    std::vector<std::string> blocks;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (line == "}") {
        if (!blocks.empty()) blocks.pop_back();
        continue;
      }
      std::string full;
      for (const std::string& block : blocks) full += block + " ";
      // A block opens at the end of its line, or on the line after it.
      if (line.back() == '{') {
        blocks.push_back(trimmed(full + line.substr(0, line.size() - 1)));
        continue;
      }
      full += line;
      if (i + 1 < lines.size() && lines[i + 1] == "{") {
        blocks.push_back(full);
        ++i;
        continue;
      }
      command(full, folder, depth);
    }
  }

 private:
  std::map<std::string, std::string> variables_;
  std::set<std::string> seen_;
  size_t bytes_ = 0;
  bool saidBindcode_ = false;
  bool saidBounds_ = false;

  // `line` with each variable replaced: at each "$", the longest name that
  // matches there.
  std::string replaced(const std::string& line) const {
    std::string out;
    for (size_t at = 0; at < line.size();) {
      const std::string* value = nullptr;
      size_t length = 0;
      if (line[at] == '$') {
        for (const auto& [name, text] : variables_) {
          if (name.size() > length && line.compare(at, name.size(), name) == 0) {
            value = &text;
            length = name.size();
          }
        }
      }
      if (value) {
        out += *value;
        at += length;
      } else {
        out += line[at++];
      }
    }
    return out;
  }

  void command(const std::string& line, const std::string& folder, int depth) {
    std::vector<std::string> words = wordsOf(line);
    if (words.empty()) return;
    const std::string name = lowercase(words[0]);
    if (name == "set") {
      if (words.size() < 2) return;
      const std::string variable = words[1][0] == '$' ? words[1] : "$" + words[1];
      // The value is the rest of the line after the name.
      const size_t at = line.find(words[1]) + words[1].size();
      variables_[variable] = trimmed(replaced(line.substr(std::min(at, line.size()))));
      return;
    }
    const std::string expanded = replaced(line);
    words = wordsOf(expanded);
    if (name == "include") {
      include(trimmed(expanded.substr(words[0].size())), folder, depth);
    } else if (name == "bindsym") {
      binding(words, 1);
    } else if (name == "bindcode") {
      logOnce(saidBindcode_,
              "[hotkeys] sway's bindcode bindings name key codes, not keys: they are left out");
    } else if (name == "mode") {
      // A mode's bindings are not the default mode's, unless it is named so.
      size_t i = 1;
      while (i < words.size() && words[i].rfind("--", 0) == 0) ++i;
      if (i + 1 < words.size() && words[i] == "default" && lowercase(words[i + 1]) == "bindsym") {
        binding(words, i + 2);
      }
    }
  }

  void binding(const std::vector<std::string>& words, size_t i) {
    while (i < words.size() && words[i].rfind("--", 0) == 0) ++i;
    // A binding names its command after the keys.
    if (i + 1 >= words.size()) return;
    SwayBinding binding;
    std::optional<int64_t> key;
    std::string_view combo = words[i];
    for (size_t start = 0; start <= combo.size();) {
      size_t end = combo.find('+', start);
      if (end == std::string_view::npos) end = combo.size();
      const std::string part(combo.substr(start, end - start));
      start = end + 1;
      const std::string lower = lowercase(part);
      if (part.empty()) return;
      if (lower == "shift") {
        binding.modifiers |= kShortcutShift;
      } else if (lower == "control" || lower == "ctrl") {
        binding.modifiers |= kShortcutControl;
      } else if (lower == "mod1" || lower == "alt") {
        binding.modifiers |= kShortcutAlt;
      } else if (lower == "mod4" || lower == "super") {
        binding.modifiers |= kShortcutSuper;
      } else if (lower == "lock" || lower == "mod2" || lower == "mod3" || lower == "mod5") {
        return;
      } else {
        if (key) return;
        key = swayKeyNamed(part);
        if (!key) return;
      }
    }
    if (!key) return;
    binding.keyCode = *key;
    result.bindings.push_back(binding);
  }

  void include(const std::string& pattern, const std::string& folder, int depth) {
    if (pattern.empty()) return;
    if (depth >= kMaxSwayIncludeDepth) {
      logOnce(saidBounds_, "[hotkeys] sway's config includes too deep: the rest is left out");
      return;
    }
    std::string word = pattern;
    if (word[0] != '/' && word[0] != '~' && word[0] != '$') {
      if (folder.empty()) return;
      // The folder quoted, so that its own characters are never expanded.
      std::string quoted = "'";
      for (char c : folder) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
      word = quoted + "'/" + word;
    }
    wordexp_t expansion{};
    if (wordexp(word.c_str(), &expansion, WRDE_NOCMD) != 0) return;
    std::vector<std::string> paths(expansion.we_wordv, expansion.we_wordv + expansion.we_wordc);
    wordfree(&expansion);
    for (const std::string& path : paths) includeFile(path, depth);
  }

  void includeFile(const std::string& path, int depth) {
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real) || !isFile(real) || !seen_.insert(real).second) return;
    if (result.files >= kMaxSwayConfigFiles) {
      logOnce(saidBounds_, "[hotkeys] sway's config includes too many files: the rest is left out");
      return;
    }
    std::ifstream in(real, std::ios::binary);
    std::string text;
    text.resize(kMaxSwayConfigBytes - bytes_ + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (bytes_ + text.size() > kMaxSwayConfigBytes) {
      logOnce(saidBounds_, "[hotkeys] sway's config is too large: the rest is left out");
      bytes_ = kMaxSwayConfigBytes;
      return;
    }
    bytes_ += text.size();
    file(text, path, depth + 1);
  }

 public:
  void startAt(const std::string& path, size_t size) {
    bytes_ = size;
    char real[PATH_MAX];
    if (!path.empty() && realpath(path.c_str(), real)) seen_.insert(real);
  }
};

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::optional<int64_t> swayKeyNamed(const std::string& name) {
  std::string capitalised = lowercase(name);
  if (!capitalised.empty()) {
    capitalised[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capitalised[0])));
  }
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& spelling : {name, lowercase(name), capitalised, upper}) {
    const guint value = gdk_keyval_from_name(spelling.c_str());
    if (value != 0 && value != GDK_KEY_VoidSymbol) return gdk_keyval_to_lower(value);
  }
  return std::nullopt;
}

SwayBindings swayBindingsOf(const std::string& text, const std::string& path) {
  ConfigReader reader;
  reader.startAt(path, std::min(text.size(), kMaxSwayConfigBytes));
  reader.file(text.substr(0, kMaxSwayConfigBytes), path, 0);
  return std::move(reader.result);
}

std::string swayConfigPath(int64_t pid) {
  if (pid > 0) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream in(proc + "/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(in, argument, '\0');) arguments.push_back(argument);
    std::string given;
    for (size_t i = 1; i < arguments.size(); ++i) {
      const std::string& a = arguments[i];
      if ((a == "-c" || a == "--config") && i + 1 < arguments.size()) {
        given = arguments[i + 1];
      } else if (a.rfind("--config=", 0) == 0) {
        given = a.substr(9);
      } else if (a.rfind("-c", 0) == 0 && a.size() > 2 && a[1] == 'c') {
        given = a.substr(2);
      }
    }
    if (!given.empty()) {
      if (given[0] == '/') return given;
      char cwd[PATH_MAX];
      const ssize_t length = readlink((proc + "/cwd").c_str(), cwd, sizeof cwd - 1);
      if (length <= 0) return {};
      return std::string(cwd, static_cast<size_t>(length)) + "/" + given;
    }
  }
  const std::string home = environment("HOME");
  std::string config = environment("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) config = home + "/.config";
  // sway's own order; a part left empty by a missing variable is skipped.
  const std::string candidates[] = {home.empty() ? "" : home + "/.sway/config",
                                    config.empty() ? "" : config + "/sway/config",
                                    home.empty() ? "" : home + "/.i3/config",
                                    config.empty() ? "" : config + "/i3/config",
                                    std::string("/etc/sway/config"),
                                    std::string("/etc/i3/config")};
  for (const std::string& candidate : candidates) {
    if (!candidate.empty() && isFile(candidate)) return candidate;
  }
  return {};
}

std::optional<SwayBindings> SwayShortcuts::read() {
  const std::optional<SwayLoadedConfig> config = loadedConfig();
  if (!config) return std::nullopt;
  return swayBindingsOf(config->text, swayConfigPath(config->pid));
}

std::optional<bool> SwayShortcuts::isTaken(int64_t keyCode, int64_t modifiers) {
  const std::optional<SwayBindings> bound = read();
  if (!bound) return std::nullopt;
  const SwayBinding wanted{keyCode, modifiers};
  return std::find(bound->bindings.begin(), bound->bindings.end(), wanted) != bound->bindings.end();
}

}  // namespace dravel::linux_platform
