#include "platform/linux/session/linux_login_item.h"

#include <glib.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/linux/session/desktop_portal.h"
#include "platform/linux/session/linux_process_info.h"

namespace dravel::linux_platform {
namespace {

const char* const kGroup = "Desktop Entry";
const char* const kAnswerGroup = "Background";
const char* const kReason = "Dravel starts when you log in, so that its screenshot shortcuts work.";
constexpr int kPortalTimeoutMs = 25000;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string entryName() {
  std::string name = kApplicationId;
  name += ".desktop";
  return name;
}

// The user's home folder: $HOME, else the password database's. Empty when
// neither says.
std::string homeFolder() {
  std::string home = environment("HOME");
  if (home.empty()) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir) {
      home = found->pw_dir;
    }
  }
  return home;
}

// The user's configuration home: $XDG_CONFIG_HOME when it is an absolute path
// (a relative one is to be ignored), else ~/.config. Empty when there is no
// home folder either.
std::string configHome() {
  std::string home = environment("XDG_CONFIG_HOME");
  if (home.starts_with('/')) return home;
  home = homeFolder();
  if (home.empty()) return {};
  home += "/.config";
  return home;
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The first system-wide entry of the application's name, in the order of
// $XDG_CONFIG_DIRS (default /etc/xdg). Empty when there is none.
std::string systemEntryPath() {
  std::vector<std::string> dirs;
  for (std::string& dir : split(environment("XDG_CONFIG_DIRS"), ':')) {
    if (dir.starts_with('/')) dirs.push_back(std::move(dir));
  }
  if (dirs.empty()) dirs.push_back("/etc/xdg");
  for (std::string& dir : dirs) {
    dir += "/autostart/";
    dir += entryName();
    if (exists(dir)) return dir;
  }
  return {};
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// Whether the program named in TryExec or Exec is there: a path as it is, a
// bare name through $PATH.
bool programExists(const std::string& program) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) return isExecutableFile(program);
  std::string path = environment("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  for (std::string dir : split(path, ':')) {
    dir += '/';
    dir += program;
    if (isExecutableFile(dir)) return true;
  }
  return false;
}

// The program of an Exec value (key file escapes already undone): its first
// argument without its quotes and escapes, `%%` read as `%`. Absent when a
// quote is left open.
std::optional<std::string> execProgram(const std::string& exec) {
  size_t at = exec.find_first_not_of(" \t");
  if (at == std::string::npos) return std::string();
  std::string program;
  if (exec[at] == '"') {
    for (++at;; ++at) {
      if (at >= exec.size()) return std::nullopt;
      const char c = exec[at];
      if (c == '"') break;
      if (c == '\\' && at + 1 < exec.size() && std::strchr("\"`$\\", exec[at + 1])) {
        program += exec[++at];
      } else {
        program += c;
      }
    }
  } else {
    const size_t end = exec.find_first_of(" \t", at);
    program = exec.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  std::string out;
  for (size_t i = 0; i < program.size(); ++i) {
    out += program[i];
    if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '%') ++i;
  }
  return out;
}

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

std::optional<std::string> stringValue(GKeyFile* file, const char* key) {
  gchar* value = g_key_file_get_string(file, kGroup, key, nullptr);
  if (!value) return std::nullopt;
  std::string out = value;
  g_free(value);
  return out;
}

// A boolean key's value; absent when the key is missing or not a boolean.
std::optional<bool> booleanValue(GKeyFile* file, const char* key) {
  GError* error = nullptr;
  const gboolean value = g_key_file_get_boolean(file, kGroup, key, &error);
  if (error) {
    g_error_free(error);
    return std::nullopt;
  }
  return value != FALSE;
}

// Whether a desktop list key names one of the current desktop's names.
// Absent when the key is missing.
std::optional<bool> listsCurrentDesktop(GKeyFile* file, const char* key) {
  gsize length = 0;
  gchar** list = g_key_file_get_string_list(file, kGroup, key, &length, nullptr);
  if (!list) return std::nullopt;
  bool listed = false;
  for (const std::string& desktop : split(environment("XDG_CURRENT_DESKTOP"), ':')) {
    for (gsize i = 0; i < length && !listed; ++i) listed = desktop == list[i];
  }
  g_strfreev(list);
  return listed;
}

// Writes an entry into the user's autostart folder, creating the folder
// first. Absent on success, else what failed.
std::optional<std::string> writeUserEntry(const std::string& contents) {
  const std::string home = configHome();
  if (home.empty()) {
    return std::string(
        "The user's configuration folder is unknown: neither XDG_CONFIG_HOME "
        "nor HOME is set.");
  }
  const std::string dir = home + "/autostart";
  if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) {
    const int why = errno;
    std::string text = "The folder \"";
    text += dir;
    text += "\" couldn't be created: ";
    text += std::strerror(why);
    text += '.';
    return text;
  }
  const std::string path = dir + "/" + entryName();
  GError* error = nullptr;
  if (!g_file_set_contents(path.c_str(), contents.data(), static_cast<gssize>(contents.size()),
                           &error)) {
    std::string text = "The login item \"";
    text += path;
    text += "\" couldn't be written: ";
    text += error->message;
    text += '.';
    g_error_free(error);
    return text;
  }
  return std::nullopt;
}

// The running executable. Absent when /proc does not say.
std::optional<std::string> runningExecutable() {
  char buffer[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (length <= 0) return std::nullopt;
  std::string path(buffer, static_cast<size_t>(length));
  // A binary replaced while it runs (an upgrade) reads as "PATH (deleted)";
  // the entry is for what is at PATH now.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted) && !exists(path)) path.resize(path.size() - kDeleted.size());
  return path;
}

}  // namespace

std::string quotedExecArgument(const std::string& argument) {
  const bool quote =
      argument.empty() || argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string out;
  if (quote) out += '"';
  for (char c : argument) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    out += c;
    if (c == '%') out += '%';
  }
  if (quote) out += '"';
  return out;
}

std::string escapedKeyFileValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    switch (value[i]) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default:
        out += value[i];
    }
  }
  return out;
}

std::string autostartEntry(const std::string& executable, bool hidden) {
  std::string entry = "[Desktop Entry]\nType=Application\nName=Dravel\n";
  entry += "Exec=";
  entry += escapedKeyFileValue(quotedExecArgument(executable));
  entry += "\nTryExec=";
  entry += escapedKeyFileValue(executable);
  entry += "\nNoDisplay=true\n";
  entry += hidden ? "Hidden=true\n" : "X-GNOME-Autostart-enabled=true\n";
  return entry;
}

XdgAutostartLoginItem::XdgAutostartLoginItem()
    : executable_(runningExecutable()), sandboxed_(runningInFlatpak()) {}

XdgAutostartLoginItem::XdgAutostartLoginItem(std::string executable, bool sandboxed)
    : executable_(std::move(executable)), sandboxed_(sandboxed) {}

std::string XdgAutostartLoginItem::userEntryPath() {
  std::string home = configHome();
  if (home.empty()) return {};
  home += "/autostart/";
  home += entryName();
  return home;
}

std::string XdgAutostartLoginItem::portalAnswerPath() {
  std::string home = environment("XDG_DATA_HOME");
  if (!home.starts_with('/')) {
    home = homeFolder();
    if (home.empty()) return {};
    home += "/.local/share";
  }
  home += "/dravel/background";
  return home;
}

std::optional<std::string> XdgAutostartLoginItem::requestBackground(bool autostart) {
  const std::string answerPath = portalAnswerPath();
  if (answerPath.empty()) {
    return std::string(
        "The application's data folder is unknown: neither XDG_DATA_HOME nor HOME is set.");
  }
  // The command as the sandbox runs it: the program's name, on the sandbox's
  // path.
  const std::string program =
      executable_ ? executable_->substr(executable_->rfind('/') + 1) : std::string("dravel-host");
  PortalAnswer answer = requestAndWait(
      "org.freedesktop.portal.Background", "RequestBackground",
      [&](const std::string& token) {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "reason", g_variant_new_string(kReason));
        g_variant_builder_add(&options, "{sv}", "autostart", g_variant_new_boolean(autostart));
        const gchar* command[] = {program.c_str(), nullptr};
        g_variant_builder_add(&options, "{sv}", "commandline", g_variant_new_strv(command, 1));
        g_variant_builder_add(&options, "{sv}", "dbus-activatable", g_variant_new_boolean(FALSE));
        return g_variant_new("(sa{sv})", "", &options);
      },
      kPortalTimeoutMs);
  if (!answer.error.empty()) {
    return "The background portal did not change start at login: " + answer.error + ".";
  }
  // The Response's code is all the portal says of a refusal: 1 when the
  // user (or the permission they gave once) said no, 2 otherwise.
  if (answer.response == 1) {
    return std::string("The background portal refused start at login: the user did not allow it.");
  }
  if (answer.response != 0) {
    return "The background portal refused start at login: the request ended (response " +
           std::to_string(answer.response) + ").";
  }
  const bool enabled = answer.resultFlag("autostart", false);
  // What the portal answered is what the session does now, whatever was asked.
  const std::string dir = answerPath.substr(0, answerPath.rfind('/'));
  const std::string contents =
      std::string("[") + kAnswerGroup + "]\nautostart=" + (enabled ? "true" : "false") + "\n";
  GError* error = nullptr;
  if (g_mkdir_with_parents(dir.c_str(), 0700) != 0 ||
      !g_file_set_contents(answerPath.c_str(), contents.data(),
                           static_cast<gssize>(contents.size()), &error)) {
    std::string text = "The background portal's answer couldn't be kept in \"" + answerPath +
                       "\": " + (error ? error->message : std::strerror(errno)) + ".";
    g_clear_error(&error);
    return text;
  }
  if (enabled != autostart) {
    return std::string(autostart ? "The desktop did not allow Dravel to start at login."
                                 : "The desktop still starts Dravel at login.");
  }
  return std::nullopt;
}

int XdgAutostartLoginItem::status() {
  if (sandboxed_) {
    KeyFile file(g_key_file_new());
    const std::string path = portalAnswerPath();
    if (path.empty() ||
        !g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr)) {
      return kLoginItemNotRegistered;
    }
    return g_key_file_get_boolean(file.get(), kAnswerGroup, "autostart", nullptr)
               ? kLoginItemEnabled
               : kLoginItemNotRegistered;
  }
  std::string path = userEntryPath();
  if (path.empty() || !exists(path)) path = systemEntryPath();
  if (path.empty()) return kLoginItemNotRegistered;
  KeyFile file(g_key_file_new());
  if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, nullptr) ||
      !g_key_file_has_group(file.get(), kGroup)) {
    return kLoginItemNotRegistered;
  }
  if (booleanValue(file.get(), "Hidden") == true) return kLoginItemNotRegistered;

  if (std::optional<std::string> tryExec = stringValue(file.get(), "TryExec");
      tryExec && !tryExec->empty() && !programExists(*tryExec)) {
    return kLoginItemNotFound;
  }
  std::optional<std::string> exec = stringValue(file.get(), "Exec");
  std::optional<std::string> program = exec ? execProgram(*exec) : std::nullopt;
  if (!program || !programExists(*program)) return kLoginItemNotFound;

  if (booleanValue(file.get(), "X-GNOME-Autostart-enabled") == false) {
    return kLoginItemNotRegistered;
  }
  if (listsCurrentDesktop(file.get(), "OnlyShowIn") == false ||
      listsCurrentDesktop(file.get(), "NotShowIn") == true) {
    return kLoginItemNotRegistered;
  }
  return kLoginItemEnabled;
}

std::optional<std::string> XdgAutostartLoginItem::registerService() {
  if (sandboxed_) return requestBackground(true);
  if (!executable_) return std::string("The application's own location couldn't be read.");
  return writeUserEntry(autostartEntry(*executable_, false));
}

std::optional<std::string> XdgAutostartLoginItem::unregisterService() {
  if (sandboxed_) return requestBackground(false);
  if (!systemEntryPath().empty()) {
    // The user's entry of the same name takes the system one's place.
    return writeUserEntry(autostartEntry(executable_.value_or(kApplicationId), true));
  }
  const std::string path = userEntryPath();
  // Without a configuration home, or with one that is not a folder, there is
  // no entry to remove.
  if (path.empty() || ::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR) {
    return std::nullopt;
  }
  const int why = errno;
  std::string text = "The login item \"";
  text += path;
  text += "\" couldn't be removed: ";
  text += std::strerror(why);
  text += '.';
  return text;
}

}  // namespace dravel::linux_platform
