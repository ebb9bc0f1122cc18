// The capture route over KWin's org.kde.KWin.ScreenShot2 interface.
//
// KWin hands a screen's raw pixels through a pipe the caller passes with the
// call: the reply is a map (width, height, stride, QImage format), the pipe
// carries exactly stride x height bytes. The route reads the pipe while the
// call is pending, so that neither side waits for the other.
//
// KWin serves only a caller whose executable an installed desktop entry
// names (its Exec= first word) and which lists
// X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2; anyone else gets
// org.kde.KWin.ScreenShot2.Error.NoAuthorized. That refusal makes the route
// unusable, so that the engine falls to the portal.
//
// Each monitor is captured by KWin's name for its output (CaptureScreen, at
// native resolution): the monitor's connector name where the toolkit knows
// it, else the output of KWin's support information whose logical geometry
// is the monitor's rectangle. A monitor no output matches is captured as its
// logical area at native resolution (CaptureArea).
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wayland/capture/capture_route.h"

namespace dravel::linux_platform {

// The largest image the route accepts, in bytes of rows (stride x height);
// width x height x 4 is bounded by it too.
inline constexpr uint64_t kMaxKWinImageBytes = uint64_t{1} << 29;

// What KWin's answer says of the pixels it writes.
struct KWinImageHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t stride = 0;
  uint32_t format = 0;  // a QImage::Format number

  // The bytes the pipe must carry: stride x height.
  uint64_t byteCount() const { return uint64_t{stride} * height; }
};

// The header of a ScreenShot2 answer (`results`, of type a{sv}), every value
// checked: type "raw" where it is given, sizes non-zero, width x height x 4
// and stride x height within kMaxKWinImageBytes, stride at least width x 4.
// Null with `error` set when the answer is malformed.
std::optional<KWinImageHeader> parseKWinAnswer(GVariant* results, std::string* error);

// The image the bytes read from the pipe make, which must be exactly
// stride x height of them. QImage formats: 4 (RGB32) as BGRX; 5 (ARGB32)
// premultiplied into BGRA; 6 (ARGB32_Premultiplied) as it is; 16 (RGBX8888)
// and 17 (RGBA8888) as straight RGBA; 18 (RGBA8888_Premultiplied) swapped
// into BGRA. Null with `error` for another format or a wrong byte count.
CapturedImagePtr kwinImage(const KWinImageHeader& header, std::vector<uint8_t> bytes,
                           std::string* error);

// An output as KWin's support information lists it, in logical pixels.
struct KWinOutput {
  std::string name;
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  bool operator==(const KWinOutput&) const = default;
};

// The enabled outputs of the text org.kde.KWin.supportInformation answers
// ("Screen N:" blocks with "Name:", "Enabled:" and "Geometry: x,y,WxH"
// lines); a block without a name or a well-formed geometry is left out.
std::vector<KWinOutput> parseKWinOutputs(const std::string& supportInformation);

// The name of the output to capture for `monitor`: its connector name where
// KWin lists an output of that name, else the one output whose geometry is
// the monitor's rectangle; empty when none matches.
std::string kwinOutputFor(const RouteMonitor& monitor, const std::vector<KWinOutput>& outputs);

// The route, or null (saying why) when no KWin ScreenShot2 is on the session
// bus. Runs on the capture engine's worker thread, where the route lives.
CaptureRoutePtr makeKWinScreenShotRoute(std::string* why);

}  // namespace dravel::linux_platform
