#include "platform/linux/wayland/capture/kwin_screenshot_route.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <utility>

#include "platform/linux/session/linux_process_info.h"
#include "platform/linux/session/private_bus.h"
#include "platform/linux/wayland/capture/kwin_screenshot_call.h"
#include "platform/shared/cairo_pixels.h"

namespace dravel::linux_platform {
namespace {

static_assert(std::endian::native == std::endian::little,
              "QImage's 32-bit formats are read as little-endian words");

constexpr char kPath[] = "/org/kde/KWin/ScreenShot2";
constexpr char kInterface[] = "org.kde.KWin.ScreenShot2";
constexpr char kRefusal[] = "org.kde.KWin.ScreenShot2.Error.NoAuthorized";

// QImage::Format numbers.
constexpr uint32_t kFormatRGB32 = 4;
constexpr uint32_t kFormatARGB32 = 5;
constexpr uint32_t kFormatARGB32Premultiplied = 6;
constexpr uint32_t kFormatRGBX8888 = 16;
constexpr uint32_t kFormatRGBA8888 = 17;
constexpr uint32_t kFormatRGBA8888Premultiplied = 18;

std::string executablePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return "this program";
  return std::string(path, static_cast<size_t>(n));
}

bool readUnsigned(GVariant* results, const char* key, uint32_t* out, std::string* error) {
  VariantPtr value(g_variant_lookup_value(results, key, nullptr));
  if (!value) {
    *error = std::string("KWin's answer gives no ") + key;
    return false;
  }
  if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)) {
    *error = std::string("KWin's answer gives ") + key + " as type " +
             g_variant_get_type_string(value.get()) + ", not an unsigned integer";
    return false;
  }
  *out = g_variant_get_uint32(value.get());
  return true;
}

class KWinScreenShotRoute : public CaptureRoute {
 public:
  // Takes both references.
  KWinScreenShotRoute(GMainContext* context, GDBusConnection* connection)
      : context_(context), connection_(connection) {}

  ~KWinScreenShotRoute() override { closePrivateSessionBus(context_, connection_); }

  std::string name() const override { return "KWin ScreenShot2"; }

  bool granted() const override { return !refused_; }

  RouteResult capture(const RouteMonitor& monitor, const RouteLayout& layout, bool cursor,
                      const std::function<bool()>& cancelled) override {
    ThreadDefaultContext scope(context_);
    RouteResult result;
    const std::string output = outputFor(monitor, layout, cancelled);
    if (cancelled()) {
      result.error = "The capture was cancelled.";
      return result;
    }

    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      result.error = std::string("Cannot make a pipe for KWin's pixels: ") + std::strerror(errno);
      return result;
    }
    // Only the reading end is non-blocking: KWin writes to the other.
    fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);  // fewer wake-ups; a refusal is harmless
    GUnixFDList* fds = g_unix_fd_list_new();
    const gint handle = g_unix_fd_list_append(fds, ends[1], nullptr);
    close(ends[1]);
    if (handle < 0) {
      close(ends[0]);
      g_object_unref(fds);
      result.error = "Cannot hand KWin a pipe for its pixels.";
      return result;
    }

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "native-resolution", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&options, "{sv}", "include-cursor", g_variant_new_boolean(cursor));
    const char* method = nullptr;
    GVariant* parameters = nullptr;
    std::string what;
    if (!output.empty()) {
      method = "CaptureScreen";
      parameters = g_variant_new("(sa{sv}h)", output.c_str(), &options, handle);
      what = "screen " + output;
    } else if (monitor.x < INT32_MIN || monitor.x > INT32_MAX || monitor.y < INT32_MIN ||
               monitor.y > INT32_MAX || monitor.width <= 0 || monitor.width > UINT32_MAX ||
               monitor.height <= 0 || monitor.height > UINT32_MAX) {
      g_variant_builder_clear(&options);
      g_object_unref(fds);
      close(ends[0]);
      result.error = "The monitor's rectangle is out of KWin's range.";
      return result;
    } else {
      method = "CaptureArea";
      parameters =
          g_variant_new("(iiuua{sv}h)", static_cast<gint32>(monitor.x),
                        static_cast<gint32>(monitor.y), static_cast<guint32>(monitor.width),
                        static_cast<guint32>(monitor.height), &options, handle);
      what = "the area " + std::to_string(monitor.width) + "x" + std::to_string(monitor.height) +
             "+" + std::to_string(monitor.x) + "+" + std::to_string(monitor.y);
    }

    PipeReader reader;
    reader.fd = ends[0];
    reader.limit = kMaxKWinImageBytes;
    std::optional<KWinImageHeader> header;
    std::string headerError;
    auto accept = [&](GVariant* reply) {
      // The call names no reply type: an empty reply is KWin's to send.
      VariantPtr results(g_variant_n_children(reply) > 0 ? g_variant_get_child_value(reply, 0)
                                                         : nullptr);
      header = parseKWinAnswer(results.get(), &headerError);
      if (!header) return false;
      if (header->byteCount() < reader.bytes.size()) {
        reader.overflow = true;
        return false;
      }
      reader.limit = header->byteCount();
      if (canAllocate(static_cast<size_t>(reader.limit))) {
        reader.bytes.reserve(static_cast<size_t>(reader.limit));
      }
      return true;
    };
    CallOutcome outcome = callKWin(context_, connection_, kPath, kInterface, method, parameters,
                                   fds, &reader, cancelled, accept);
    close(ends[0]);

    const std::string asked = "KWin's capture of " + what;
    if (outcome.cancelled) {
      result.error = "The capture was cancelled.";
    } else if (reader.overflow && !header) {
      result.error = asked + " wrote more than the " + std::to_string(kMaxKWinImageBytes) +
                     " bytes the host accepts.";
    } else if (outcome.timedOut) {
      result.error =
          asked + " did not finish within " + std::to_string(kKWinCallTimeoutMs / 1000) + " s.";
    } else if (outcome.answer->error) {
      const GError* error = outcome.answer->error;
      if (remoteErrorIs(error, kRefusal)) {
        refused_ = true;
        result.unusable = true;
        result.error =
            "KWin refused the screenshot (" + std::string(kRefusal) +
            "): it serves only a program that an installed desktop entry names in its Exec= "
            "line (first word " +
            executablePath() +
            ") and that lists X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2";
      } else {
        result.unusable = interfaceGone(error);
        result.error = asked + " failed: " + busErrorText(error);
      }
    } else if (reader.overflow && header) {
      result.error = asked + " wrote more than the " + std::to_string(header->byteCount()) +
                     " bytes its answer announced.";
    } else if (!header) {
      result.error = asked + " answered badly: " + headerError + ".";
    } else if (reader.readError) {
      result.error = asked + " could not be read: " + std::strerror(reader.readError);
    } else {
      std::string error;
      result.image = kwinImage(*header, std::move(reader.bytes), &error);
      if (result.image) {
        refused_ = false;  // an entry installed since grants it now
      } else {
        result.error = asked + ": " + error + ".";
      }
    }
    return result;
  }

 private:
  // The output name for the monitor, from KWin's outputs (asked again when
  // the layout changed); empty when no output matches or KWin cannot say.
  std::string outputFor(const RouteMonitor& monitor, const RouteLayout& layout,
                        const std::function<bool()>& cancelled) {
    if (!haveOutputs_ || layout != outputsLayout_) {
      haveOutputs_ = false;
      CallOutcome outcome =
          callKWin(context_, connection_, "/KWin", "org.kde.KWin", "supportInformation", nullptr,
                   nullptr, nullptr, cancelled, nullptr);
      if (outcome.answer && outcome.answer->reply &&
          g_variant_is_of_type(outcome.answer->reply, G_VARIANT_TYPE("(s)"))) {
        const gchar* text = nullptr;
        g_variant_get(outcome.answer->reply, "(&s)", &text);
        outputs_ = parseKWinOutputs(text);
        outputsLayout_ = layout;
        haveOutputs_ = true;
      } else {
        outputs_.clear();
      }
    }
    return kwinOutputFor(monitor, outputs_);
  }

  GMainContext* context_;
  GDBusConnection* connection_;
  std::atomic<bool> refused_{false};
  bool haveOutputs_ = false;
  RouteLayout outputsLayout_;
  std::vector<KWinOutput> outputs_;
};

}  // namespace

std::optional<KWinImageHeader> parseKWinAnswer(GVariant* results, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!results || !g_variant_is_of_type(results, G_VARIANT_TYPE_VARDICT)) {
    *error = "KWin's answer is not a map of results";
    return std::nullopt;
  }
  if (VariantPtr type{g_variant_lookup_value(results, "type", nullptr)}) {
    if (!g_variant_is_of_type(type.get(), G_VARIANT_TYPE_STRING) ||
        std::strcmp(g_variant_get_string(type.get(), nullptr), "raw") != 0) {
      gchar* text = g_variant_print(type.get(), FALSE);
      *error = std::string("KWin's answer is of type ") + text + ", not raw pixels";
      g_free(text);
      return std::nullopt;
    }
  }
  KWinImageHeader header;
  if (!readUnsigned(results, "width", &header.width, error) ||
      !readUnsigned(results, "height", &header.height, error) ||
      !readUnsigned(results, "stride", &header.stride, error) ||
      !readUnsigned(results, "format", &header.format, error)) {
    return std::nullopt;
  }
  const std::string size = std::to_string(header.width) + "x" + std::to_string(header.height);
  if (header.width == 0 || header.height == 0) {
    *error = "KWin's answer gives an empty image (" + size + ")";
    return std::nullopt;
  }
  if (uint64_t{header.width} * header.height * 4 > kMaxKWinImageBytes) {
    *error = "KWin's image of " + size + " pixels is larger than the host accepts";
    return std::nullopt;
  }
  if (header.stride / 4 < header.width) {
    *error = "KWin's rows of " + std::to_string(header.stride) + " bytes are shorter than " +
             std::to_string(header.width) + " pixels";
    return std::nullopt;
  }
  if (header.byteCount() > kMaxKWinImageBytes) {
    *error = "KWin's image of " + size + " pixels in rows of " + std::to_string(header.stride) +
             " bytes is larger than the host accepts";
    return std::nullopt;
  }
  return header;
}

CapturedImagePtr kwinImage(const KWinImageHeader& header, std::vector<uint8_t> bytes,
                           std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (bytes.size() != header.byteCount()) {
    *error = "KWin wrote " + std::to_string(bytes.size()) + " bytes of pixels, not the " +
             std::to_string(header.byteCount()) + " its answer announced";
    return nullptr;
  }
  auto image = std::make_shared<CapturedImage>();
  image->width = header.width;
  image->height = header.height;
  image->bytesPerRow = header.stride;
  // Each pixel of each row, by the byte offset of its first byte.
  auto eachPixel = [&](auto&& change) {
    for (uint64_t y = 0; y < header.height; ++y) {
      uint8_t* row = bytes.data() + y * header.stride;
      for (uint64_t x = 0; x < header.width; ++x) change(row + x * 4);
    }
  };
  switch (header.format) {
    case kFormatRGB32:
      image->format = PixelFormat::kBGRX;
      break;
    case kFormatARGB32:
      image->format = PixelFormat::kBGRAPremultiplied;
      eachPixel([](uint8_t* p) {
        const unsigned a = p[3];
        if (a == 255) return;
        for (int c = 0; c < 3; ++c) p[c] = premultiply(p[c], a);
      });
      break;
    case kFormatARGB32Premultiplied:
      image->format = PixelFormat::kBGRAPremultiplied;
      break;
    case kFormatRGBX8888:
      image->format = PixelFormat::kRGBAStraight;
      eachPixel([](uint8_t* p) { p[3] = 255; });
      break;
    case kFormatRGBA8888:
      image->format = PixelFormat::kRGBAStraight;
      break;
    case kFormatRGBA8888Premultiplied:
      image->format = PixelFormat::kBGRAPremultiplied;
      eachPixel([](uint8_t* p) { std::swap(p[0], p[2]); });
      break;
    default:
      *error = "KWin wrote pixels in QImage format " + std::to_string(header.format) +
               ", which the host does not read";
      return nullptr;
  }
  image->pixels = std::move(bytes);
  return image;
}

std::vector<KWinOutput> parseKWinOutputs(const std::string& supportInformation) {
  std::vector<KWinOutput> outputs;
  std::istringstream lines(supportInformation);
  std::string line;
  bool inBlock = false;
  bool named = false;
  bool placed = false;
  bool enabled = true;
  KWinOutput current;
  auto close = [&] {
    if (inBlock && named && placed && enabled) outputs.push_back(current);
    inBlock = false;
  };
  auto startsWith = [&](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    unsigned index = 0;
    char colon = 0;
    char rest = 0;
    if (std::sscanf(line.c_str(), "Screen %u%c%c", &index, &colon, &rest) == 2 && colon == ':') {
      close();
      inBlock = true;
      named = placed = false;
      enabled = true;
      current = KWinOutput{};
    } else if (!inBlock) {
      continue;
    } else if (line.empty() || startsWith("===")) {
      close();
    } else if (startsWith("Name: ")) {
      current.name = line.substr(6);
      named = !current.name.empty();
    } else if (startsWith("Enabled: ")) {
      enabled = line.substr(9) != "0";
    } else if (startsWith("Geometry: ")) {
      long long x = 0, y = 0, w = 0, h = 0;
      int consumed = 0;
      placed =
          std::sscanf(line.c_str() + 10, "%lld,%lld,%lldx%lld%n", &x, &y, &w, &h, &consumed) == 4 &&
          line.c_str()[10 + consumed] == '\0' && w > 0 && h > 0;
      current.x = x;
      current.y = y;
      current.width = w;
      current.height = h;
    }
  }
  close();
  return outputs;
}

std::string kwinOutputFor(const RouteMonitor& monitor, const std::vector<KWinOutput>& outputs) {
  if (!monitor.name.empty()) {
    for (const KWinOutput& o : outputs) {
      if (o.name == monitor.name) return o.name;
    }
  }
  const KWinOutput* match = nullptr;
  for (const KWinOutput& o : outputs) {
    if (o.x == monitor.x && o.y == monitor.y && o.width == monitor.width &&
        o.height == monitor.height) {
      if (match) return "";  // two outputs in one place (mirrored): say none
      match = &o;
    }
  }
  return match ? match->name : "";
}

CaptureRoutePtr makeKWinScreenShotRoute(std::string* why) {
  std::string ignored;
  if (!why) why = &ignored;
  // KWin checks the caller's executable against installed desktop entries,
  // which no program inside a sandbox matches: the portal serves there.
  if (runningInFlatpak()) {
    *why = "KWin's screenshot interface serves no program inside a sandbox";
    return nullptr;
  }
  GMainContext* context = g_main_context_new();
  GDBusConnection* connection = connectPrivateSessionBus(context, why);
  if (!connection) {
    g_main_context_unref(context);
    return nullptr;
  }
  ThreadDefaultContext scope(context);
  auto fail = [&](std::string message) -> CaptureRoutePtr {
    *why = std::move(message);
    closePrivateSessionBus(context, connection);
    return nullptr;
  };

  std::string failure;
  VariantPtr owned =
      callSync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
               "NameHasOwner", g_variant_new("(s)", kKWinService), "(b)", &failure);
  if (!owned) return fail(failure);
  gboolean hasOwner = FALSE;
  g_variant_get(owned.get(), "(b)", &hasOwner);
  if (!hasOwner) return fail("org.kde.KWin is not on the session bus");
  VariantPtr introspection =
      callSync(connection, kKWinService, kPath, "org.freedesktop.DBus.Introspectable", "Introspect",
               nullptr, "(s)", &failure);
  if (!introspection) return fail("KWin has no " + std::string(kPath) + ": " + failure);
  const gchar* xml = nullptr;
  g_variant_get(introspection.get(), "(&s)", &xml);
  const std::string wanted = "<interface name=\"" + std::string(kInterface) + "\"";
  if (!xml || !std::strstr(xml, wanted.c_str())) {
    return fail("KWin does not offer " + std::string(kInterface));
  }
  return std::make_unique<KWinScreenShotRoute>(context, connection);
}

}  // namespace dravel::linux_platform
