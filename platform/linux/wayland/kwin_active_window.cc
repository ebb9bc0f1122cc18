#include "platform/linux/wayland/kwin_active_window.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "channels/socket_path.h"
#include "platform/linux/session/private_bus.h"

namespace dravel::linux_platform {
namespace {

constexpr char kService[] = "org.kde.KWin";
constexpr char kScriptingPath[] = "/Scripting";
constexpr char kScriptingInterface[] = "org.kde.kwin.Scripting";
constexpr char kScriptInterface[] = "org.kde.kwin.Script";
constexpr char kReportPath[] = "/org/dravel/KWinActiveWindow";
constexpr char kReportInterface[] = "org.dravel.KWinActiveWindow";
constexpr char kReportXml[] =
    "<node><interface name='org.dravel.KWinActiveWindow'><method name='Report'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "</method></interface></node>";
constexpr size_t kReportFields = 8;
// Unloading a script gets this long even when the read's bound is spent.
constexpr int kUnloadTimeoutMs = 250;

bool parseNumber(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 1 ? static_cast<int>(left.count()) : 1;
}

// A call on the private connection; null with `why` set on failure.
GVariant* callSync(GDBusConnection* connection, const char* service, const char* path,
                   const char* interface, const char* method, GVariant* args, const char* replyType,
                   int timeoutMs, std::string* why) {
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(connection, service, path, interface, method, args,
                                  replyType ? G_VARIANT_TYPE(replyType) : nullptr,
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
  if (!reply) {
    *why = std::string(method) + " failed: " + busErrorText(error);
    g_clear_error(&error);
  }
  return reply;
}

// Whether the introspection data at /Scripting shows loadScript(s, s) and
// unloadScript(s).
bool offersScripting(const char* xml) {
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
  if (!node) return false;
  GDBusInterfaceInfo* scripting = g_dbus_node_info_lookup_interface(node, kScriptingInterface);
  bool load = false;
  bool unload = false;
  for (GDBusMethodInfo** m = scripting ? scripting->methods : nullptr; m && *m; ++m) {
    size_t inputs = 0;
    for (GDBusArgInfo** a = (*m)->in_args; a && *a; ++a) ++inputs;
    if (std::strcmp((*m)->name, "loadScript") == 0 && inputs == 2) load = true;
    if (std::strcmp((*m)->name, "unloadScript") == 0 && inputs == 1) unload = true;
  }
  g_dbus_node_info_unref(node);
  return load && unload;
}

// The script that reports the active window to `owner`, tagged `plugin`.
std::string scriptText(const std::string& owner, const std::string& plugin) {
  return "(function () {\n"
         "  var c = workspace.activeWindow || workspace.activeClient;\n"
         "  var g = c ? c.frameGeometry : null;\n"
         "  function s(v) { return c ? String(v) : \"\"; }\n"
         "  callDBus(\"" +
         owner + "\", \"" + kReportPath + "\", \"" + kReportInterface + "\", \"Report\", \"" +
         plugin +
         "\", s(c && c.pid), s(g && g.x), s(g && g.y), s(g && g.width), s(g && g.height),\n"
         "      s(c && c.resourceClass), s(c && c.caption), s(c && c.internalId));\n"
         "})();\n";
}

// Writes `text` to a new private file `path`.
bool writePrivateFile(const std::string& path, const std::string& text, std::string* why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    *why = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (::close(fd) != 0 || !written) {
    ::unlink(path.c_str());
    *why = "cannot write " + path;
    return false;
  }
  return true;
}

void onMethodCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  static_cast<KWinActiveWindowProbe*>(data)->onReport(sender, parameters);
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

const GDBusInterfaceVTable kVTable = {onMethodCall, nullptr, nullptr, {}};

gboolean onDeadline(gpointer data) {
  *static_cast<bool*>(data) = true;
  return G_SOURCE_REMOVE;
}

}  // namespace

KWinReport parseKWinReport(const std::vector<std::string>& fields) {
  KWinReport report;
  if (fields.size() != kReportFields) {
    report.error = "KWin's report has " + std::to_string(fields.size()) + " fields";
    return report;
  }
  bool none = true;
  for (const std::string& field : fields) none = none && field.empty();
  if (none) {
    report.ok = true;
    return report;
  }
  KWinActiveWindow w;
  double pid = 0;
  if (!parseNumber(fields[0], &pid) || pid < 1 || pid > INT_MAX || pid != std::floor(pid)) {
    report.error = "KWin's report gives the pid \"" + fields[0] + "\"";
    return report;
  }
  w.pid = static_cast<int64_t>(pid);
  if (!parseNumber(fields[1], &w.x) || !parseNumber(fields[2], &w.y) ||
      !parseNumber(fields[3], &w.width) || !parseNumber(fields[4], &w.height) || w.width < 0 ||
      w.height < 0) {
    report.error = "KWin's report gives the frame \"" + fields[1] + "," + fields[2] + " " +
                   fields[3] + "x" + fields[4] + "\"";
    return report;
  }
  if (fields[7].empty()) {
    report.error = "KWin's report gives no internal id";
    return report;
  }
  w.resourceClass = fields[5];
  w.caption = fields[6];
  w.internalId = fields[7];
  report.ok = true;
  report.window = std::move(w);
  return report;
}

int64_t kwinWindowNumber(const std::string& internalId) {
  // FNV-1a, kept positive.
  uint32_t hash = 2166136261u;
  for (unsigned char c : internalId) hash = (hash ^ c) * 16777619u;
  const int64_t number = hash & 0x7fffffff;
  return number ? number : 1;
}

KWinActiveWindowProbe::~KWinActiveWindowProbe() {
  disconnect();
}

void KWinActiveWindowProbe::disconnect() {
  if (!connection_) return;
  if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
  registration_ = 0;
  closePrivateSessionBus(context_, connection_);
  connection_ = nullptr;
  context_ = nullptr;
  scriptingOwner_.clear();
}

bool KWinActiveWindowProbe::connect(std::string* why) {
  if (connection_ && !g_dbus_connection_is_closed(connection_)) return true;
  disconnect();
  context_ = g_main_context_new();
  connection_ = connectPrivateSessionBus(context_, why);
  if (!connection_) {
    g_main_context_unref(context_);
    context_ = nullptr;
    return false;
  }
  ThreadDefaultContext scope(context_);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kReportXml, nullptr);
  GError* error = nullptr;
  registration_ = g_dbus_connection_register_object(connection_, kReportPath, node->interfaces[0],
                                                    &kVTable, this, nullptr, &error);
  g_dbus_node_info_unref(node);
  if (!registration_) {
    *why = "cannot export the report object: " + busErrorText(error);
    g_clear_error(&error);
    disconnect();
    return false;
  }
  return true;
}

void KWinActiveWindowProbe::onReport(const char* sender, GVariant* parameters) {
  if (owner_.empty() || !sender || owner_ != sender) return;
  std::vector<std::string> fields;
  const gsize count = g_variant_n_children(parameters);
  for (gsize i = 0; i < count; ++i) {
    GVariant* child = g_variant_get_child_value(parameters, i);
    fields.emplace_back(g_variant_get_string(child, nullptr));
    g_variant_unref(child);
  }
  if (fields.empty() || fields.front() != plugin_) return;
  fields.erase(fields.begin());
  report_ = parseKWinReport(fields);
}

KWinReport KWinActiveWindowProbe::read(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  KWinReport failed;
  if (!connect(&failed.error)) return failed;
  ThreadDefaultContext scope(context_);

  GVariant* owner = callSync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", kService),
                             "(s)", remainingMs(deadline), &failed.error);
  if (!owner) {
    failed.error = "no org.kde.KWin on the session bus";
    return failed;
  }
  const gchar* ownerName = nullptr;
  g_variant_get(owner, "(&s)", &ownerName);
  owner_ = ownerName;
  g_variant_unref(owner);

  if (scriptingOwner_ != owner_) {
    GVariant* xml =
        callSync(connection_, kService, kScriptingPath, "org.freedesktop.DBus.Introspectable",
                 "Introspect", nullptr, "(s)", remainingMs(deadline), &failed.error);
    const gchar* text = nullptr;
    if (xml) g_variant_get(xml, "(&s)", &text);
    const bool offered = text && offersScripting(text);
    if (xml) g_variant_unref(xml);
    if (!offered) {
      if (xml) failed.error = "KWin offers no org.kde.kwin.Scripting at /Scripting";
      return failed;
    }
    scriptingOwner_ = owner_;
  }

  const std::string folder = parentFolder(defaultSocketPath());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    failed.error = "cannot make " + folder + ": " + std::strerror(errno);
    return failed;
  }
  plugin_ = "dravel_active_window_" + std::to_string(::getpid()) + "_" + std::to_string(++counter_);
  const std::string path = folder + "/" + plugin_ + ".js";
  if (!writePrivateFile(path, scriptText(g_dbus_connection_get_unique_name(connection_), plugin_),
                        &failed.error)) {
    return failed;
  }
  report_.reset();

  GVariant* loaded = callSync(connection_, kService, kScriptingPath, kScriptingInterface,
                              "loadScript", g_variant_new("(ss)", path.c_str(), plugin_.c_str()),
                              "(i)", remainingMs(deadline), &failed.error);
  if (loaded) {
    int32_t id = -1;
    g_variant_get(loaded, "(i)", &id);
    g_variant_unref(loaded);
    // The script's object is /Scripting/ScriptN on some versions, /N on others;
    // Scripting.start() runs every loaded script that is not running.
    bool started = false;
    if (id >= 0) {
      for (const std::string& object :
           {"/Scripting/Script" + std::to_string(id), "/" + std::to_string(id)}) {
        std::string ignored;
        GVariant* ran = callSync(connection_, kService, object.c_str(), kScriptInterface, "run",
                                 nullptr, nullptr, remainingMs(deadline), &ignored);
        if (ran) {
          g_variant_unref(ran);
          started = true;
          break;
        }
      }
      if (!started) {
        GVariant* ran = callSync(connection_, kService, kScriptingPath, kScriptingInterface,
                                 "start", nullptr, nullptr, remainingMs(deadline), &failed.error);
        if (ran) g_variant_unref(ran);
        started = ran != nullptr;
      }
    } else {
      failed.error = "KWin refused the script (loadScript answered " + std::to_string(id) + ")";
    }
    if (started) {
      bool late = false;
      GSource* timer = g_timeout_source_new(static_cast<unsigned>(remainingMs(deadline)));
      g_source_set_callback(timer, onDeadline, &late, nullptr);
      g_source_attach(timer, context_);
      while (!report_ && !late) g_main_context_iteration(context_, TRUE);
      g_source_destroy(timer);
      g_source_unref(timer);
      if (!report_) failed.error = "KWin's script did not report in time";
    }
    std::string ignored;
    GVariant* unloaded =
        callSync(connection_, kService, kScriptingPath, kScriptingInterface, "unloadScript",
                 g_variant_new("(s)", plugin_.c_str()), nullptr, kUnloadTimeoutMs, &ignored);
    if (unloaded) g_variant_unref(unloaded);
  }
  ::unlink(path.c_str());
  owner_.clear();
  plugin_.clear();
  if (!report_) {
    // The interface may be gone with its owner: ask again next time.
    scriptingOwner_.clear();
    return failed;
  }
  KWinReport report = std::move(*report_);
  report_.reset();
  return report;
}

}  // namespace dravel::linux_platform
