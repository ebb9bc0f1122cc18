// Calls to the XDG desktop portal (org.freedesktop.portal.Desktop), which
// serves a sandboxed process what it cannot reach itself: start at login,
// notifications, showing files, documents.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <string>

namespace dravel::linux_platform {

inline constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
inline constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";

// The answer to a portal request: its Response, or why none came.
struct PortalAnswer {
  // Set when the call failed or no Response came in time.
  std::string error;
  // The Response's code: 0 success, 1 cancelled by the user, 2 ended otherwise.
  uint32_t response = 2;
  // The Response's results (a{sv}); null without a Response.
  GVariant* results = nullptr;

  PortalAnswer() = default;
  PortalAnswer(PortalAnswer&& other) noexcept;
  PortalAnswer& operator=(PortalAnswer&&) = delete;
  ~PortalAnswer();
  // A boolean entry of the results; `fallback` when absent or of another type.
  bool resultFlag(const char* key, bool fallback) const;
};

// Calls a portal method that answers with a request object, and waits for the
// request's Response, at most `timeoutMs` in all. `parameters` makes the
// call's arguments from the handle token, which its options must carry as
// "handle_token" so that the Response is subscribed before the call is made.
// The call goes on a private connection whose answers come to a context of
// its own: nothing else of the process runs while it waits.
PortalAnswer requestAndWait(const char* interface, const char* method,
                            const std::function<GVariant*(const std::string& token)>& parameters,
                            int timeoutMs);

}  // namespace dravel::linux_platform
