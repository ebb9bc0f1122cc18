#include "platform/linux/wayland/capture/portal_capture_routes.h"

#include <fcntl.h>
#include <gio/gunixfdlist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstring>
#include <memory>

#include "channels/log.h"
#include "platform/linux/wayland/capture/desktop_portal.h"
#include "platform/linux/wayland/capture/pipewire_stream.h"
#include "platform/linux/wayland/capture/restore_token_store.h"

namespace dravel::linux_platform {
namespace {

constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kScreenshot[] = "org.freedesktop.portal.Screenshot";
constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorHidden = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kPersistUntilRevoked = 2;
// A new stream's first frame comes within a frame or two; a portal whose
// stream needs damage first may take as long as the screen stays still.
constexpr std::chrono::milliseconds kFirstFrameTimeout{5000};
// The screen cast stays open this long after the last capture.
constexpr std::chrono::milliseconds kKeepOpen{5000};
// The largest screenshot file read.
constexpr off_t kMaxScreenshotBytes = off_t{1} << 29;

uint32_t uintOf(const GVariantPtr& value) {
  return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_UINT32)
             ? g_variant_get_uint32(value.get())
             : 0;
}

std::optional<std::pair<int64_t, int64_t>> pairIn(GVariant* properties, const char* key) {
  int32_t a = 0;
  int32_t b = 0;
  if (!g_variant_lookup(properties, key, "(ii)", &a, &b)) return std::nullopt;
  return std::make_pair(int64_t{a}, int64_t{b});
}

std::string stringIn(GVariant* results, const char* key) {
  if (!results) return "";
  GVariantPtr value(g_variant_lookup_value(results, key, nullptr));
  if (!value) return "";
  if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING) ||
      g_variant_is_of_type(value.get(), G_VARIANT_TYPE_OBJECT_PATH)) {
    return g_variant_get_string(value.get(), nullptr);
  }
  return "";
}

class ScreenCastPortalRoute : public CaptureRoute {
 public:
  ScreenCastPortalRoute(std::unique_ptr<DesktopPortal> portal, uint32_t version,
                        uint32_t cursorModes)
      : portal_(std::move(portal)),
        version_(version),
        cursorModes_(cursorModes),
        tokens_(RestoreTokenStore::forUser()) {
    haveToken_ = tokens_.load().has_value();
  }

  ~ScreenCastPortalRoute() override { closeSession(); }

  std::string name() const override { return "the ScreenCast portal"; }

  bool granted() const override { return capturedThisSession_ || haveToken_; }

  bool promptVisible() const override { return portal_->waiting(); }

  std::chrono::milliseconds keepsOpenFor() const override { return kKeepOpen; }

  void closeIdle() override {
    if (!session_.empty()) closeSession();
  }

  bool requestGrant(const std::function<bool()>& cancelled) override {
    if (!session_.empty() && !anyStreamFailed()) return true;
    std::string error;
    bool unusable = false;
    if (!openSession(false, cancelled, &error, &unusable)) return false;
    // Granted now, whether or not the portal gave a token to keep.
    capturedThisSession_ = true;
    return true;
  }

  RouteResult capture(const RouteMonitor& monitor, const RouteLayout& layout, bool cursor,
                      const std::function<bool()>& cancelled) override {
    RouteResult result;
    const bool embedded = cursor && (cursorModes_ & kCursorEmbedded);
    if (!session_.empty() && (anyStreamFailed() || embedded != cursorEmbedded_)) closeSession();
    if (session_.empty() && !openSession(embedded, cancelled, &result.error, &result.unusable)) {
      return result;
    }
    std::vector<CastStream> casts;
    for (const Stream& s : streams_) casts.push_back(s.cast);
    const std::optional<size_t> index = streamForMonitor(monitor, layout, casts);
    if (!index) {
      result.error =
          "The screen cast the desktop granted does not show this monitor; ask for permission "
          "again to choose it.";
      return result;
    }
    Stream& stream = streams_[*index];
    std::string why;
    CapturedImagePtr frame = stream.pipewire->latestFrame(kFirstFrameTimeout, cancelled, &why);
    if (!frame) {
      result.error = "The screen cast gave no picture: " + why + ".";
      if (stream.pipewire->failed()) closeSession();
      return result;
    }
    const int64_t width = monitor.width * monitor.scale;
    const int64_t height = monitor.height * monitor.scale;
    if (frame->width != width || frame->height != height) {
      result.error = "The screen cast's picture is " + std::to_string(frame->width) + "x" +
                     std::to_string(frame->height) + ", not the monitor's " +
                     std::to_string(width) + "x" + std::to_string(height) + ".";
      return result;
    }
    capturedThisSession_ = true;
    result.image = std::move(frame);
    return result;
  }

 private:
  struct Stream {
    CastStream cast;
    std::unique_ptr<PipeWireStream> pipewire;
  };

  bool anyStreamFailed() const {
    for (const Stream& s : streams_) {
      if (s.pipewire && s.pipewire->failed()) return true;
    }
    return false;
  }

  void closeSession() {
    streams_.clear();
    portal_->closeSession(session_);
    session_.clear();
  }

  // A request's failure as the capture's: refused (the grant is gone),
  // timed out, or failed.
  void noteFailure(const DesktopPortal::Answer& answer, std::string* error) {
    if (answer.outcome == DesktopPortal::Answer::Outcome::kAnswered && answer.response == 1) {
      // The user said no: no grant is held until they say yes.
      capturedThisSession_ = false;
      haveToken_ = false;
      tokens_.clear();
    }
    std::string text = answer.error;
    if (!text.empty())
      text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    *error = text + ".";
  }

  bool openSession(bool cursorEmbedded, const std::function<bool()>& cancelled, std::string* error,
                   bool* unusable) {
    closeSession();
    auto createSession = [&] {
      const std::string sessionToken = portal_->newToken();
      return portal_->request(
          kScreenCast, "CreateSession", "screen cast's session",
          [&](const char* handle) {
            GVariantBuilder options;
            g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
            g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(handle));
            g_variant_builder_add(&options, "{sv}", "session_handle_token",
                                  g_variant_new_string(sessionToken.c_str()));
            return g_variant_new("(a{sv})", &options);
          },
          cancelled);
    };
    DesktopPortal::Answer created = createSession();
    if (created.outcome == DesktopPortal::Answer::Outcome::kAnswered && created.response == 2 &&
        !cancelled()) {
      // A backend that died under its last dialog (GNOME's does when a
      // dialog is closed) fails the next request at once and is started
      // anew by the one after: once more, after a moment. Making a session
      // asks the user nothing.
      g_usleep(500 * 1000);
      created = createSession();
    }
    if (!created.granted()) {
      // A portal that cannot even make a session cannot serve.
      *unusable = created.outcome == DesktopPortal::Answer::Outcome::kFailed;
      noteFailure(created, error);
      return false;
    }
    session_ = stringIn(created.results.get(), "session_handle");
    if (session_.empty() || !g_variant_is_object_path(session_.c_str())) {
      session_.clear();
      *error = "The desktop portal made a screen-cast session without a handle.";
      return false;
    }

    std::optional<std::string> token = version_ >= 4 ? tokens_.load() : std::nullopt;
    DesktopPortal::Answer selected = selectSources(cursorEmbedded, token, cancelled);
    if (!selected.granted() && token &&
        selected.outcome == DesktopPortal::Answer::Outcome::kFailed) {
      // A token the portal will not take: ask afresh.
      tokens_.clear();
      haveToken_ = false;
      selected = selectSources(cursorEmbedded, std::nullopt, cancelled);
    }
    // A cast the stored grant did not start (abandoned, refused or failed):
    // no grant is held until one succeeds again. The token stays for the
    // next try unless the portal turned it down.
    const bool offeredToken = token.has_value();
    auto lapse = [&] {
      if (!offeredToken) return;
      capturedThisSession_ = false;
      haveToken_ = false;
    };
    if (!selected.granted()) {
      noteFailure(selected, error);
      lapse();
      closeSession();
      return false;
    }

    DesktopPortal::Answer started = portal_->request(
        kScreenCast, "Start", "start of the screen cast",
        [&](const char* handle) {
          GVariantBuilder options;
          g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
          g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(handle));
          return g_variant_new("(osa{sv})", session_.c_str(), "", &options);
        },
        cancelled);
    if (!started.granted()) {
      noteFailure(started, error);
      lapse();
      closeSession();
      return false;
    }
    GVariant* results = started.results.get();
    const std::string restore = stringIn(results, "restore_token");
    if (!restore.empty()) {
      std::string why;
      if (tokens_.save(restore, &why)) {
        haveToken_ = true;
      } else {
        NSLog("[capture] the screen cast's grant is not kept for later launches: %s", why.c_str());
      }
    }
    GVariantPtr list(results
                         ? g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"))
                         : nullptr);
    if (list) {
      GVariantIter iter;
      g_variant_iter_init(&iter, list.get());
      uint32_t node = 0;
      GVariant* properties = nullptr;
      while (g_variant_iter_next(&iter, "(u@a{sv})", &node, &properties)) {
        Stream stream;
        stream.cast.node = node;
        stream.cast.position = pairIn(properties, "position");
        stream.cast.size = pairIn(properties, "size");
        g_variant_unref(properties);
        streams_.push_back(std::move(stream));
      }
    }
    if (streams_.empty()) {
      *error = "The desktop granted a screen cast without a monitor in it.";
      closeSession();
      return false;
    }

    // Every stream is read from the start: a cast sends a monitor's first
    // frame when it starts, and then only when the monitor changes, so a
    // stream joined later may wait for a frame as long as the screen is
    // still. Each has a PipeWire connection of its own: a connection is one
    // client, which two streams' threads cannot share.
    for (Stream& stream : streams_) {
      std::string failure;
      const int fd = openPipeWireRemote(&failure);
      if (fd < 0) {
        *error =
            "The desktop portal gave no PipeWire connection for the screen cast: " + failure + ".";
        closeSession();
        return false;
      }
      stream.pipewire = PipeWireStream::open(fd, stream.cast.node, &failure);
      if (!stream.pipewire) {
        *error = "Cannot read the screen cast from PipeWire: " + failure + ".";
        // Without PipeWire no screen cast can be read: the next way serves.
        *unusable = true;
        closeSession();
        return false;
      }
    }
    cursorEmbedded_ = cursorEmbedded;
    return true;
  }

  // A new connection to the session's PipeWire remote; -1 with `why`.
  int openPipeWireRemote(std::string* why) {
    GUnixFDList* fds = nullptr;
    GVariantBuilder none;
    g_variant_builder_init(&none, G_VARIANT_TYPE_VARDICT);
    GVariantPtr remote =
        portal_->call(kScreenCast, "OpenPipeWireRemote",
                      g_variant_new("(oa{sv})", session_.c_str(), &none), "(h)", &fds, why);
    int32_t slot = -1;
    if (remote) g_variant_get(remote.get(), "(h)", &slot);
    int fd = -1;
    if (fds && slot >= 0 && slot < g_unix_fd_list_get_length(fds)) {
      fd = g_unix_fd_list_get(fds, slot, nullptr);
    }
    if (fds) g_object_unref(fds);
    if (fd < 0 && why->empty()) *why = "the answer holds no descriptor";
    return fd;
  }

  DesktopPortal::Answer selectSources(bool cursorEmbedded, const std::optional<std::string>& token,
                                      const std::function<bool()>& cancelled) {
    return portal_->request(
        kScreenCast, "SelectSources", "choice of the monitors to share",
        [&](const char* handle) {
          GVariantBuilder options;
          g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
          g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(handle));
          g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
          g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(TRUE));
          const uint32_t mode = cursorEmbedded ? kCursorEmbedded : kCursorHidden;
          if (cursorModes_ & mode) {
            g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(mode));
          }
          if (version_ >= 4) {
            g_variant_builder_add(&options, "{sv}", "persist_mode",
                                  g_variant_new_uint32(kPersistUntilRevoked));
            if (token) {
              g_variant_builder_add(&options, "{sv}", "restore_token",
                                    g_variant_new_string(token->c_str()));
            }
          }
          return g_variant_new("(oa{sv})", session_.c_str(), &options);
        },
        cancelled);
  }

  std::unique_ptr<DesktopPortal> portal_;
  const uint32_t version_;
  const uint32_t cursorModes_;
  const RestoreTokenStore tokens_;
  std::atomic<bool> haveToken_{false};
  std::atomic<bool> capturedThisSession_{false};
  std::string session_;
  bool cursorEmbedded_ = false;
  std::vector<Stream> streams_;
};

class ScreenshotPortalRoute : public CaptureRoute {
 public:
  explicit ScreenshotPortalRoute(std::unique_ptr<DesktopPortal> portal)
      : portal_(std::move(portal)) {}

  std::string name() const override { return "the Screenshot portal"; }
  bool granted() const override { return granted_; }
  bool promptVisible() const override { return portal_->waiting(); }

  bool requestGrant(const std::function<bool()>& cancelled) override {
    std::string error;
    return screenshot(cancelled, &error).has_value();
  }

  RouteResult capture(const RouteMonitor& monitor, const RouteLayout& layout, bool,
                      const std::function<bool()>& cancelled) override {
    RouteResult result;
    std::optional<DecodedImage> image = screenshot(cancelled, &result.error);
    if (image) result.image = monitorFromLayoutImage(*image, monitor, layout, &result.error);
    return result;
  }

 private:
  // The whole layout, decoded; the portal's file is removed.
  std::optional<DecodedImage> screenshot(const std::function<bool()>& cancelled,
                                         std::string* error) {
    DesktopPortal::Answer answer = requestScreenshot(*portal_, cancelled);
    if (!answer.granted()) {
      if (answer.outcome == DesktopPortal::Answer::Outcome::kAnswered && answer.response == 1) {
        granted_ = false;
      }
      *error = answer.error + ".";
      return std::nullopt;
    }
    const std::string uri = stringIn(answer.results.get(), "uri");
    gchar* path = uri.empty() ? nullptr : g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (!path) {
      *error = "The Screenshot portal answered no file (" + uri + ").";
      return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    bool readable = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    st.st_uid == getuid() && st.st_size > 0 && st.st_size <= kMaxScreenshotBytes;
    if (readable) {
      bytes.resize(static_cast<size_t>(st.st_size));
      size_t done = 0;
      while (done < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      readable = done == bytes.size();
    }
    if (fd >= 0) close(fd);
    // The screenshot is the host's alone; a copy left behind would lie
    // there for anyone who can read the folder.
    unlink(path);
    const std::string shown = path;
    g_free(path);
    if (!readable) {
      *error = "Cannot read the Screenshot portal's file " + shown + ".";
      return std::nullopt;
    }
    std::optional<DecodedImage> image = decodePng(bytes);
    if (!image) {
      *error = "The Screenshot portal's file " + shown + " is not a PNG the host can read.";
      return std::nullopt;
    }
    granted_ = true;
    return image;
  }

  std::unique_ptr<DesktopPortal> portal_;
  std::atomic<bool> granted_{false};
};

}  // namespace

DesktopPortal::Answer requestScreenshot(DesktopPortal& portal,
                                        const std::function<bool()>& cancelled) {
  return portal.request(
      kScreenshot, "Screenshot", "screenshot",
      [](const char* handle) {
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(handle));
        g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
        return g_variant_new("(sa{sv})", "", &options);
      },
      cancelled);
}

std::optional<size_t> streamForMonitor(const RouteMonitor& monitor, const RouteLayout& layout,
                                       const std::vector<CastStream>& streams) {
  const std::pair<int64_t, int64_t> logical{monitor.width, monitor.height};
  const std::pair<int64_t, int64_t> native{monitor.width * monitor.scale,
                                           monitor.height * monitor.scale};
  const std::pair<int64_t, int64_t> place{monitor.x, monitor.y};
  auto sizeMatches = [&](const CastStream& s) {
    return s.size && (*s.size == logical || *s.size == native);
  };
  std::optional<size_t> bySize;
  size_t sizeMatchCount = 0;
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!sizeMatches(streams[i])) continue;
    if (streams[i].position == place) return i;
    bySize = i;
    ++sizeMatchCount;
  }
  if (sizeMatchCount == 1) return bySize;
  if (streams.size() == 1 && layout.size() == 1) return size_t{0};
  return std::nullopt;
}

CapturedImagePtr monitorFromLayoutImage(const DecodedImage& image, const RouteMonitor& monitor,
                                        const RouteLayout& layout, std::string* error) {
  if (layout.empty() || image.width == 0 || image.height == 0) {
    *error = "The screenshot or the layout is empty.";
    return nullptr;
  }
  // The layout's bounds, logical and in device pixels.
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  int64_t deviceRight = INT64_MIN, deviceBottom = INT64_MIN;
  int maxScale = 1;
  for (const RouteMonitor& m : layout) {
    left = std::min(left, m.x);
    top = std::min(top, m.y);
    right = std::max(right, m.x + m.width);
    bottom = std::max(bottom, m.y + m.height);
    maxScale = std::max(maxScale, m.scale);
  }
  for (const RouteMonitor& m : layout) {
    deviceRight = std::max(deviceRight, m.x - left + m.width * m.scale);
    deviceBottom = std::max(deviceBottom, m.y - top + m.height * m.scale);
  }
  const int64_t width = monitor.width * monitor.scale;
  const int64_t height = monitor.height * monitor.scale;
  int64_t x0 = 0, y0 = 0;
  int step = 1;  // image pixels per native pixel of the monitor
  if (image.width == (right - left) * maxScale && image.height == (bottom - top) * maxScale &&
      maxScale % std::max(1, monitor.scale) == 0) {
    x0 = (monitor.x - left) * maxScale;
    y0 = (monitor.y - top) * maxScale;
    step = maxScale / std::max(1, monitor.scale);
  } else if (image.width == deviceRight && image.height == deviceBottom) {
    x0 = monitor.x - left;
    y0 = monitor.y - top;
  } else {
    *error = "The screenshot is " + std::to_string(image.width) + "x" +
             std::to_string(image.height) + ", which fits no drawing of this layout.";
    return nullptr;
  }
  if (width <= 0 || height <= 0 || x0 < 0 || y0 < 0 || x0 + width * step > image.width ||
      y0 + height * step > image.height) {
    *error = "The monitor lies outside the screenshot.";
    return nullptr;
  }
  auto out = std::make_shared<CapturedImage>();
  out->width = width;
  out->height = height;
  out->bytesPerRow = width * 4;
  out->format = PixelFormat::kRGBAStraight;
  out->pixels.resize(static_cast<size_t>(width * height * 4));
  const int64_t sourceRow = int64_t{image.width} * 4;
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* row = out->pixels.data() + y * out->bytesPerRow;
    if (step == 1) {
      std::memcpy(row, image.rgba.data() + (y0 + y) * sourceRow + x0 * 4,
                  static_cast<size_t>(width * 4));
      continue;
    }
    // A monitor of a smaller scale, drawn larger: the mean of each block.
    for (int64_t x = 0; x < width; ++x) {
      uint32_t sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < step; ++dy) {
        const uint8_t* p =
            image.rgba.data() + (y0 + y * step + dy) * sourceRow + (x0 + x * step) * 4;
        for (int dx = 0; dx < step; ++dx, p += 4) {
          for (int c = 0; c < 4; ++c) sum[c] += p[c];
        }
      }
      const uint32_t n = static_cast<uint32_t>(step * step);
      for (int c = 0; c < 4; ++c) row[x * 4 + c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    }
  }
  return out;
}

CaptureRoutePtr makeScreenCastPortalRoute(std::string* why) {
  std::unique_ptr<DesktopPortal> portal = DesktopPortal::connect(why);
  if (!portal) return nullptr;
  GVariantPtr version = portal->property(kScreenCast, "version", why);
  if (!version) return nullptr;
  const uint32_t sources = uintOf(portal->property(kScreenCast, "AvailableSourceTypes", nullptr));
  if (!(sources & kSourceMonitor)) {
    if (why) *why = "the ScreenCast portal offers no monitors";
    return nullptr;
  }
  const uint32_t cursorModes =
      uintOf(portal->property(kScreenCast, "AvailableCursorModes", nullptr));
  return std::make_unique<ScreenCastPortalRoute>(std::move(portal), uintOf(version), cursorModes);
}

CaptureRoutePtr makeScreenshotPortalRoute(std::string* why) {
  std::unique_ptr<DesktopPortal> portal = DesktopPortal::connect(why);
  if (!portal) return nullptr;
  if (!portal->property(kScreenshot, "version", why)) return nullptr;
  return std::make_unique<ScreenshotPortalRoute>(std::move(portal));
}

}  // namespace dravel::linux_platform
